#include "PluginProcessor.h"
#include "PluginEditor.h"

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
        parameterValues[i] = parameters.getRawParameterValue (ParameterIds::all[i]);
        parameters.addParameterListener (ParameterIds::all[i], this);
    }

    backColorParameter = dynamic_cast<juce::AudioParameterChoice*> (parameters.getParameter ("backColor"));
    jassert (backColorParameter != nullptr);

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
}

//==============================================================================
void CompressorAudioProcessor::updateParameters (bool readParameters)
{
    if (readParameters)
    {
        auto value = [this] (size_t index) { return parameterValues[index]->load(); };

        for (size_t k = 0; k < kestrine::numBumps; ++k)
        {
            bumps[k].amplitude = value (3 * k);
            bumps[k].position  = value (3 * k + 1);
            bumps[k].width     = value (3 * k + 2);
        }

        driftSpeed = value (ParameterIds::velocity);
        distortion.current = value (ParameterIds::distortion);
        distortion.target  = value (ParameterIds::distortion);
        dryWet.current     = value (ParameterIds::drywet);
        dryWet.target      = value (ParameterIds::drywet);
        backgroundIndex    = static_cast<int> (1.0f + value (ParameterIds::backColor));
    }

    rebuildCurveAtPositions();

    // setLatencySamples tells the host only when the value changes.
    setLatencySamples (kestrine::lookAhead);
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

void CompressorAudioProcessor::parameterChanged (const juce::String& parameterID, float newValue)
{
    // May run on the audio thread (the VST3 wrapper applies automation inside the process
    // call): only atomic stores here, and the curve is rebuilt by the timer thread.
    const int index = parameterIndex (parameterID);

    if (index < 0)
        return;

    if (index < 3 * kestrine::numBumps)
    {
        auto& bump = bumps[static_cast<size_t> (index / 3)];
        auto& mirror = index % 3 == 0 ? bump.amplitude : index % 3 == 1 ? bump.position : bump.width;
        mirror = newValue;
        curveRequested = true;
        return;
    }

    switch (index)
    {
        case ParameterIds::velocity:    driftSpeed = newValue; break;
        case ParameterIds::distortion:  distortion.target = newValue; break;
        case ParameterIds::drywet:      dryWet.target = newValue; break;
        case ParameterIds::backColor:   backgroundIndex = static_cast<int> (1.0f + newValue); break;
        default: break;
    }
}

//==============================================================================
void CompressorAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    renderBlock (buffer, false);
}

void CompressorAudioProcessor::processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    // Bypass keeps the reported latency: the output is the input delayed by the same 1600
    // samples, and the engine keeps running so that switching causes no jump in time.
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

    (void) bypassed;
    if (engine.process (left, right, numSamples, *this, &displayViews.back()))
        displayViews.publish();
}

const kestrine::DisplayViews& CompressorAudioProcessor::latestDisplayViews() noexcept
{
    displayViews.fetch();
    return displayViews.front();
}

void CompressorAudioProcessor::setDisplayActive (bool active) noexcept
{
    displayActive = active;
}

//==============================================================================
void CompressorAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    blockProcessed = false;

    // copyState brings the "value" attributes up to date and copies the tree under the
    // container's lock.
    const auto state = parameters.copyState();

    if (const auto xml = state.createXml())
        copyXmlToBinary (*xml, destData);
}

void CompressorAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    const auto xml = getXmlFromBinary (data, sizeInBytes);

    if (xml == nullptr || ! xml->hasTagName (parameters.state.getType().toString()))
        return;

    parameters.replaceState (juce::ValueTree::fromXml (*xml));
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new CompressorAudioProcessor();
}
