#include "PluginProcessor.h"
#include "PluginEditor.h"
#include "StateBlock.h"
#include "StateReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace
{
    constexpr int hiResTimerPeriodMs = 10;
    constexpr int firstRefreshDelayMs = 1000;
    constexpr float parameterStep = 0.01f;

    std::unique_ptr<juce::AudioParameterFloat> makeFloat (const char* id, const char* name,
                                                          float minimum, float maximum, float defaultValue)
    {
        return std::make_unique<juce::AudioParameterFloat> (juce::ParameterID { id, 0 }, name,
                                                            juce::NormalisableRange<float> (minimum, maximum, parameterStep),
                                                            defaultValue);
    }

    juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout()
    {
        using namespace ParameterIds;
        juce::AudioProcessorValueTreeState::ParameterLayout layout;

        const std::array<const char*, 13> names {
            "Amplitude1", "Position1", "Width1",
            "Amplitude2", "Position2", "Width2",
            "Amplitude3", "Position3", "Width3",
            "Velocity", "Distortion", "Dry/Wet", "BackColor"
        };

        constexpr std::array<float, kestrine::numBumps> defaultPositions { 200.0f, 400.0f, 600.0f };

        for (size_t k = 0; k < kestrine::numBumps; ++k)
        {
            layout.add (makeFloat (all[3 * k],     names[3 * k],     -0.5f, 0.5f,   0.0f));
            layout.add (makeFloat (all[3 * k + 1], names[3 * k + 1],  0.0f, 800.0f, defaultPositions[k]));
            layout.add (makeFloat (all[3 * k + 2], names[3 * k + 2],  5.0f, 100.0f, 50.0f));
        }

        layout.add (makeFloat (all[velocity],   names[velocity],   -1.0f, 1.0f, 0.0f));
        layout.add (makeFloat (all[distortion], names[distortion], -1.0f, 1.0f, 0.0f));
        layout.add (makeFloat (all[drywet],     names[drywet],      0.0f, 1.0f, 1.0f));
        layout.add (std::make_unique<juce::AudioParameterChoice> (
            juce::ParameterID { all[backColor], 0 }, names[backColor],
            juce::StringArray { "Vibrato", "Crescendo", "Rhapsody", "Staccato", "Tremolo", "Arpeggio" }, 0));

        return layout;
    }

    /** Index of a parameter identifier in host order, or -1. Compares without allocating, so
        it may run on the audio thread. */
    int parameterIndex (const juce::String& id) noexcept
    {
        for (size_t i = 0; i < ParameterIds::all.size(); ++i)
            if (id == ParameterIds::all[i])
                return static_cast<int> (i);

        return -1;
    }
}

//==============================================================================
CompressorAudioProcessor::CompressorAudioProcessor()
    : AudioProcessor (BusesProperties().withInput  ("Input",  juce::AudioChannelSet::stereo(), true)
                                       .withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      parameters (*this, nullptr, "PARAMETERS", createParameterLayout())
{
    for (size_t i = 0; i < ParameterIds::all.size(); ++i)
    {
        parameterObjects[i] = parameters.getParameter (ParameterIds::all[i]);
        parameterValues[i] = parameters.getRawParameterValue (ParameterIds::all[i]);
        heardChanges[i].latest = parameterValues[i]->load();
        parameters.addParameterListener (ParameterIds::all[i], this);
    }

    juce::Timer::startTimer (firstRefreshDelayMs);
    juce::HighResolutionTimer::startTimer (hiResTimerPeriodMs);
}

CompressorAudioProcessor::~CompressorAudioProcessor()
{
    juce::Timer::stopTimer();
    juce::HighResolutionTimer::stopTimer();

    for (const auto* id : ParameterIds::all)
        parameters.removeParameterListener (id, this);
}

//==============================================================================
const juce::String CompressorAudioProcessor::getName() const       { return JucePlugin_Name; }
void CompressorAudioProcessor::releaseResources()                   {}
double CompressorAudioProcessor::getTailLengthSeconds() const       { return 0.0; }
bool CompressorAudioProcessor::acceptsMidi() const                  { return false; }
bool CompressorAudioProcessor::producesMidi() const                 { return false; }
bool CompressorAudioProcessor::isMidiEffect() const                 { return false; }
bool CompressorAudioProcessor::hasEditor() const                    { return true; }
int CompressorAudioProcessor::getNumPrograms()                      { return 1; }
int CompressorAudioProcessor::getCurrentProgram()                   { return 0; }
void CompressorAudioProcessor::setCurrentProgram (int)              {}
void CompressorAudioProcessor::changeProgramName (int, const juce::String&) {}

const juce::String CompressorAudioProcessor::getProgramName (int index)
{
    // Hosts and the VST3 validator need the one program to have a name.
    return index == 0 ? juce::String ("Default") : juce::String();
}

juce::AudioProcessorEditor* CompressorAudioProcessor::createEditor()
{
    return new CompressorAudioProcessorEditor (*this);
}

bool CompressorAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto output = layouts.getMainOutputChannelSet();

    if (output != juce::AudioChannelSet::mono() && output != juce::AudioChannelSet::stereo())
        return false;

    return layouts.getMainInputChannelSet() == output;
}

void CompressorAudioProcessor::prepareToPlay (double, int)
{
    updateParameters (true);
    activity = Activity::prepared;
}

//==============================================================================
void CompressorAudioProcessor::updateParameters (bool readParameters)
{
    if (readParameters)
        refreshMirrors (Smoothing::jump);

    rebuildCurveAtPositions();

    // setLatencySamples tells the host only when the value changes.
    setLatencySamples (kestrine::lookAhead);
}

void CompressorAudioProcessor::refreshMirrors (Smoothing smoothing)
{
    for (size_t i = 0; i < ParameterIds::all.size(); ++i)
        refreshMirror (i, smoothing);
}

void CompressorAudioProcessor::refreshMirror (size_t parameterIndex, Smoothing smoothing)
{
    settleMirror (parameterIndex, smoothing, [this, parameterIndex]
    {
        if (testHooks.afterParameterRead != nullptr)
            testHooks.afterParameterRead (parameterIndex);
    });
}

template <typename BetweenReadAndStore>
void CompressorAudioProcessor::settleMirror (size_t parameterIndex, Smoothing smoothing,
                                             BetweenReadAndStore&& betweenReadAndStore)
{
    // A change from another thread may land between the read and the store. Reading the
    // parameter again after the store shows it: then the newer value is stored too. Every
    // writer of a mirror ends with such a check, and the framework calls parameterChanged after
    // each store of a parameter's value, so the last store to a mirror always carries its
    // parameter's latest value. Lock-free: it repeats only while the parameter keeps changing.
    const auto& source = *parameterValues[parameterIndex];
    float value = source.load();

    for (;;)
    {
        betweenReadAndStore();
        storeMirror (parameterIndex, value, smoothing);

        const float now = source.load();

        if (now == value)
            return;

        value = now;
    }
}

void CompressorAudioProcessor::storeMirror (size_t parameterIndex, float value, Smoothing smoothing) noexcept
{
    if (parameterIndex < 3 * kestrine::numBumps)
    {
        auto& bump = bumps[parameterIndex / 3];
        auto& mirror = parameterIndex % 3 == 0 ? bump.amplitude : parameterIndex % 3 == 1 ? bump.position : bump.width;
        mirror = value;
        return;
    }

    const auto storeSmoothed = [smoothing, value] (SmoothedAmount& amount)
    {
        // A jump sets current too, so that the engine starts at the value instead of gliding.
        if (smoothing == Smoothing::jump)
            amount.current = value;

        amount.target = value;
    };

    switch (static_cast<int> (parameterIndex))
    {
        case ParameterIds::velocity:    driftSpeed = value; break;
        case ParameterIds::distortion:  storeSmoothed (distortion); break;
        case ParameterIds::drywet:      storeSmoothed (dryWet); break;
        case ParameterIds::backColor:   backgroundIndex = static_cast<int> (1.0f + value); break;
        default: break;
    }
}

void CompressorAudioProcessor::rebuildCurveAtPositions()
{
    const std::lock_guard<std::mutex> lock (curveBuildLock);

    for (size_t k = 0; k < kestrine::numBumps; ++k)
        bumpCentre[k] = static_cast<int> (bumps[k].position.load());

    buildCurveAndDrift();
}

void CompressorAudioProcessor::allBumps()
{
    const std::lock_guard<std::mutex> lock (curveBuildLock);
    buildCurveAndDrift();
}

void CompressorAudioProcessor::buildCurveAndDrift()
{
    std::array<kestrine::BumpShape, kestrine::numBumps> shapes;

    for (size_t k = 0; k < kestrine::numBumps; ++k)
        shapes[k] = { bumps[k].amplitude.load(), bumps[k].width.load() };

    kestrine::buildBumpCurve (bumpCurve.back(), shapes, bumpCentre);
    bumpCurve.publish();

    const float speed = driftSpeed.load();

    for (auto& centre : bumpCentre)
        centre = kestrine::driftedCentre (centre, speed);
}

std::array<int, kestrine::numBumps> CompressorAudioProcessor::currentBumpCentres()
{
    const std::lock_guard<std::mutex> lock (curveBuildLock);
    return bumpCentre;
}

const kestrine::BumpCurveTable& CompressorAudioProcessor::currentBumpCurve() noexcept
{
    bumpCurve.fetch();
    return bumpCurve.front();
}

//==============================================================================
void CompressorAudioProcessor::timerCallback()
{
    juce::Timer::stopTimer();
    updateParameters (true);
}

void CompressorAudioProcessor::hiResTimerCallback()
{
    if (! serviceCurveRequest())
        allBumps();
}

bool CompressorAudioProcessor::serviceCurveRequest()
{
    if (! curveRequested.exchange (false))
        return false;

    rebuildCurveAtPositions();
    return true;
}

void CompressorAudioProcessor::parameterChanged (const juce::String& parameterID, float)
{
    // May run on the audio thread (the VST3 wrapper applies automation inside the process
    // call): only atomic loads and stores here, and the curve is rebuilt by the timer thread.
    // The mirror is taken from the parameter itself: the value handed in here may already be
    // older than the parameter's when two threads change it at once.
    const int index = parameterIndex (parameterID);

    if (index < 0)
        return;

    const auto i = static_cast<size_t> (index);
    noteChange (i);
    settleMirror (i, Smoothing::glide, [] {});

    if (i < 3 * kestrine::numBumps)
        curveRequested = true;
}

void CompressorAudioProcessor::noteChange (size_t parameterIndex) noexcept
{
    auto& heard = heardChanges[parameterIndex];
    const float previous = heard.latest.load();
    const auto count = heard.count.fetch_add (1) + 1;

    if (restoringThread.load() == juce::Thread::getCurrentThreadId() && restoreLeavesAlone[parameterIndex])
        reverts[parameterIndex] = { true, previous, count };

    heard.latest = parameterValues[parameterIndex]->load();
}

//==============================================================================
void CompressorAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    activity = Activity::processing;
    renderBlock (buffer, false);
}

void CompressorAudioProcessor::processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    // Bypass keeps the reported latency: the output is the input delayed by the same 1600
    // samples, and the engine keeps running so that switching causes no jump in time.
    activity = Activity::processing;
    renderBlock (buffer, true);
}

void CompressorAudioProcessor::renderBlock (juce::AudioBuffer<float>& buffer, bool bypassed) noexcept
{
    blockProcessed = true;
    const juce::ScopedNoDenormals noDenormals;

    const int numSamples = buffer.getNumSamples();

    for (auto channel = getTotalNumInputChannels(); channel < getTotalNumOutputChannels(); ++channel)
        buffer.clear (channel, 0, numSamples);

    if (numSamples <= 0 || buffer.getNumChannels() < 1)
        return;

    float* const left = buffer.getWritePointer (0);
    float* const right = getTotalNumOutputChannels() >= 2 && buffer.getNumChannels() >= 2 ? buffer.getWritePointer (1) : nullptr;
    bool captured = false;

    // In pieces of at most the latency, so that the input kept for the bypass is not yet
    // overwritten when a bypassed piece reads the input from the latency before it.
    for (int start = 0; start < numSamples; start += kestrine::lookAhead)
    {
        const int n = std::min (kestrine::lookAhead, numSamples - start);
        float* const pieceLeft = left + start;
        float* const pieceRight = right != nullptr ? right + start : nullptr;

        inputDelay.store (pieceLeft, pieceRight, n);
        captured = engine.process (pieceLeft, pieceRight, n, *this) || captured;

        if (bypassed)
            inputDelay.read (pieceLeft, pieceRight, n);

        inputDelay.advance (n);
    }

    // Once per block, for its last capture: the views are made from this when they are read.
    if (captured)
    {
        engine.describeLastCapture (displaySources.back());
        displaySources.publish();
    }
}

const kestrine::DisplayViews& CompressorAudioProcessor::latestDisplayViews() noexcept
{
    if (displaySources.fetch())
    {
        // In the floating-point mode of the audio thread, where the capture was made.
        const juce::ScopedNoDenormals noDenormals;
        kestrine::computeDisplayViews (displaySources.front(), displayedViews);
    }

    return displayedViews;
}

//==============================================================================
namespace
{
    const juce::Identifier stateType { "PARAMETERS" };
    const juce::Identifier entryType { "PARAM" };
    const juce::Identifier idProperty { "id" };
    const juce::Identifier valueProperty { "value" };

    /** The parameter identifiers compared character by character, the order of the entries
        in a fresh tree and of those appended to a restored one. */
    const std::array<const char*, ParameterIds::all.size()>& identifiersInCharacterOrder()
    {
        static const auto sorted = []
        {
            auto ids = ParameterIds::all;
            std::sort (ids.begin(), ids.end(), [] (const char* a, const char* b) { return std::strcmp (a, b) < 0; });
            return ids;
        }();

        return sorted;
    }

    /** A stand-in for a "value" that is no finite single-precision number, which the container
        would hand to its parameter as NaN or infinity: NaN reads as 0 like any other text that
        is no number, and an out-of-range magnitude becomes the end of the range it points to. */
    std::optional<double> finiteReplacement (double value, const juce::NormalisableRange<float>& range) noexcept
    {
        if (std::isnan (value))
            return 0.0;

        if (std::abs (value) <= static_cast<double> (std::numeric_limits<float>::max()))
            return std::nullopt;

        return static_cast<double> (value > 0.0 ? range.end : range.start);
    }

    /** Readies a restored tree for the container. Every "value" of an entry that names a
        parameter becomes a finite number, and each parameter that no entry names gets an entry
        carrying its current value, appended in identifier order: left to itself, the container
        appends such an entry without a value and sets the parameter to its default. Returns
        which parameters the block itself names. */
    std::array<bool, ParameterIds::all.size()> completeRestoredTree (juce::ValueTree& tree,
                                                                      const juce::AudioProcessorValueTreeState& parameters)
    {
        std::array<bool, ParameterIds::all.size()> named {};

        for (auto entry : tree)
        {
            const int index = parameterIndex (entry.getProperty (idProperty).toString());

            if (index < 0)
                continue;

            named[static_cast<size_t> (index)] = true;

            if (! entry.hasProperty (valueProperty))
                continue;

            const auto range = parameters.getParameterRange (ParameterIds::all[static_cast<size_t> (index)]);

            if (const auto replacement = finiteReplacement (entry.getProperty (valueProperty), range))
                entry.setProperty (valueProperty, *replacement, nullptr);
        }

        for (const auto* id : identifiersInCharacterOrder())
        {
            if (named[static_cast<size_t> (parameterIndex (id))])
                continue;

            juce::ValueTree entry (entryType);
            entry.setProperty (idProperty, juce::String (id), nullptr);
            entry.setProperty (valueProperty, static_cast<double> (parameters.getRawParameterValue (id)->load()), nullptr);
            tree.appendChild (entry, nullptr);
        }

        return named;
    }
}

void CompressorAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    blockProcessed = false;

    // copyState brings the "value" attributes up to date and copies the tree under the
    // container's lock; the text is written outside it.
    const auto xml = parameters.copyState().createXml();
    jassert (xml != nullptr);

    {
        juce::MemoryOutputStream out (destData, false);
        const auto header = kestrine::state::encodeHeader (0);
        out.write (header.data(), header.size());

        if (xml != nullptr)
            xml->writeTo (out, juce::XmlElement::TextFormat().singleLine());

        out.writeByte (0);
    }

    kestrine::state::storeTextLength (static_cast<std::uint8_t*> (destData.getData()), destData.getSize());
}

void CompressorAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    // A block that fails any check is ignored as a whole: the parameters and the tree stay as
    // they were. Only the replacement itself happens under the container's lock.
    const auto text = kestrine::state::extractText (data, sizeInBytes);

    if (! text.has_value())
        return;

    const auto xml = kestrine::state::readDocument (*text);

    if (xml == nullptr || ! xml->getTagName().equalsIgnoreCase (stateType.toString()))
        return;

    auto restored = juce::ValueTree::fromXml (*xml);
    const auto named = completeRestoredTree (restored, parameters);
    replaceStateKeepingNewerChanges (restored, named);
}

void CompressorAudioProcessor::replaceStateKeepingNewerChanges (const juce::ValueTree& restored,
                                                               const std::array<bool, ParameterIds::all.size()>& named)
{
    // The entries added for parameters the block leaves alone carry the values read a moment
    // ago. Host automation takes no lock of the container, so a change may land in between,
    // and the replacement would then set the parameter back to the older value. The container
    // changes such a parameter only in that case; parameterChanged, which the framework calls
    // for one parameter at a time, records the value it replaced, and it is put back below
    // unless a still newer change has arrived since.
    const std::lock_guard<std::mutex> oneRestoreAtATime (restoreLock);

    for (size_t i = 0; i < named.size(); ++i)
    {
        restoreLeavesAlone[i] = ! named[i];
        reverts[i] = {};
    }

    if (testHooks.beforeStateReplace != nullptr)
        testHooks.beforeStateReplace();

    // Reconnects every parameter to its entry under the container's lock; each parameter whose
    // value changes notifies its listeners, parameterChanged among them, so the engine hears
    // the restored state at once.
    restoringThread = juce::Thread::getCurrentThreadId();
    parameters.replaceState (restored);
    restoringThread = nullptr;

    for (size_t i = 0; i < reverts.size(); ++i)
    {
        const auto& revert = reverts[i];

        if (revert.happened && heardChanges[i].count.load() == revert.countAfter)
            parameterObjects[i]->setValueNotifyingHost (parameterObjects[i]->convertTo0to1 (revert.newerValue));
    }

    // An LV2 host makes the plug-in, which the framework prepares at once, and restores a saved
    // state after that, before the first block; a VST3 host restores before it prepares. Taking
    // the restored values now, as that prepareToPlay would, lets a loaded LV2 start from its
    // saved settings, as a loaded VST3 does, instead of gliding to them.
    if (wrapperType == wrapperType_LV2 && activity == Activity::prepared)
        updateParameters (true);
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new CompressorAudioProcessor();
}
