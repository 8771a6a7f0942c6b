#pragma once

#include "engine/BumpCurve.h"
#include "engine/DisplayViews.h"
#include "engine/EngineConstants.h"
#include "engine/InputDelay.h"
#include "engine/SampleRenderer.h"
#include "engine/TripleBuffer.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

/** Mirror of one bump's three parameters. Written by the message thread (editor, parameter
    listener, updateParameters), read by the curve builders; every store is sequentially consistent. */
struct BumpSettings
{
    std::atomic<float> amplitude { 0.0f };
    std::atomic<float> position { 0.0f };
    std::atomic<float> width { 0.0f };
};

/** A value that processBlock moves towards target by one-pole smoothing. The audio thread
    writes current; the message thread writes target (and current on a jump). */
struct SmoothedAmount
{
    SmoothedAmount (float initial) noexcept : current (initial), target (initial) {}

    std::atomic<float> current;
    std::atomic<float> target;
};

/** The thirteen parameters, in host order. */
namespace ParameterIds
{
    constexpr std::array<const char*, 13> all {
        "amplitude1", "frequency1", "wavelength1",
        "amplitude2", "frequency2", "wavelength2",
        "amplitude3", "frequency3", "wavelength3",
        "velocity", "distortion", "drywet", "backColor"
    };

    constexpr int velocity = 9, distortion = 10, drywet = 11, backColor = 12;
}

/** The wave-shaping engine that the host creates for each plug-in instance. */
class CompressorAudioProcessor  : public juce::AudioProcessor,
                                  public juce::AudioProcessorValueTreeState::Listener,
                                  public juce::Timer,
                                  public juce::HighResolutionTimer
{
public:
    CompressorAudioProcessor();
    ~CompressorAudioProcessor() override;

    const juce::String getName() const override;
    void prepareToPlay (double sampleRate, int samplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    void processBlockBypassed (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;
    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    void timerCallback() override;
    void hiResTimerCallback() override;
    void parameterChanged (const juce::String& parameterID, float newValue) override;

    /** Brings the mirrors (when readParameters is true) and the bump curve up to date,
        and reports the latency. The smoothed amounts jump to their parameters' values. */
    void updateParameters (bool readParameters);

    /** How a mirror refresh treats the smoothed amounts (distortion, dry/wet): glide sets only
        their targets, jump sets current and target. */
    enum class Smoothing { glide, jump };

    /** Copies every parameter's current value into its mirror, and "backColor" into
        backgroundIndex. Each store is checked against the parameter afterwards and repeated
        while the parameter moved in between, so a mirror never keeps a value older than its
        parameter's. Any thread; lock-free. */
    void refreshMirrors (Smoothing);

    /** The same for one parameter, by its index in ParameterIds::all. */
    void refreshMirror (size_t parameterIndex, Smoothing);

    /** Rebuilds the bump curve at the current centres and advances the centres by one drift step. */
    void allBumps();

    /** Serves a curve rebuild requested by a parameter change: puts the centres back at their
        positions and rebuilds. The high-resolution timer calls this on every tick. */
    bool serviceCurveRequest();

    /** The curve that the audio thread last took from the builders (audio thread only). */
    const kestrine::BumpCurveTable& currentBumpCurve() noexcept;

    /** The display views of the last capture of the last block processed, made from what the
        audio thread handed over (message thread only). */
    const kestrine::DisplayViews& latestDisplayViews() noexcept;

    /** The current bump centres (for tests; takes the builders' lock). */
    std::array<int, kestrine::numBumps> currentBumpCentres();

    //==============================================================================
    juce::AudioProcessorValueTreeState parameters;
    const std::string titleText { "K e s t r i n e" };

    // Mirrors of the parameter values that the engine reads. Written by the message thread
    // (editor slider callback, updateParameters, the parameter listener) and by the parameter
    // listener on whatever thread the host changes a parameter on; read by the curve builders
    // and the audio thread. All stores are sequentially consistent.
    std::array<BumpSettings, kestrine::numBumps> bumps;
    std::atomic<float> driftSpeed { 0.0f };
    SmoothedAmount distortion { 0.0f };
    SmoothedAmount dryWet { 1.0f };

    // The bump curve. Built by the high-resolution timer thread and by whichever thread runs
    // updateParameters, one at a time under curveBuildLock; published whole to the audio
    // thread, which takes the newest complete curve at a capture without waiting.
    kestrine::TripleBuffer<kestrine::BumpCurveTable> bumpCurve;

    // Selected background theme 1 to 6: written by the editor's combo box, updateParameters
    // and the parameter listener; read by the editor.
    std::atomic<int> backgroundIndex { 1 };

    // Set by the audio thread at every block; read and cleared by the editor's timer and by
    // getStateInformation.
    std::atomic<bool> blockProcessed { false };

    // What the display views of the last capture are made from, published whole by the audio
    // thread at the end of every block with a capture, whether or not an editor is open, and
    // taken by the message thread; neither side waits.
    kestrine::TripleBuffer<kestrine::DisplaySource> displaySources;

    // The views made from the source taken last: message thread only.
    kestrine::DisplayViews displayedViews;

    // The cycle capture and rendering state. Audio thread only (public for the tests).
    kestrine::SampleRenderer engine;

    // The untouched input, delayed by the latency, for bypassed blocks. Audio thread only.
    kestrine::InputDelay inputDelay;

    const int editorWidth = 840;
    const int editorHeight = 520;

    // How far the processor is from its last prepareToPlay: written by prepareToPlay (the host's
    // thread) and by processBlock (audio thread), read by setStateInformation.
    enum class Activity { unprepared, prepared, processing };
    std::atomic<Activity> activity { Activity::unprepared };

    // Which display view the editor draws: toggled and read by the editor only.
    std::atomic<bool> normalisedViewSelected { false };

    /** Injected steps for the tests, run where a change from another thread would have been
        lost: after refreshMirrors has read a parameter and before it stores the mirror, and
        after setStateInformation has read the current values and before it replaces the tree.
        Set by a test before the processor is shared between threads; empty otherwise. */
    struct TestHooks
    {
        std::function<void (size_t parameterIndex)> afterParameterRead;
        std::function<void()> beforeStateReplace;
    };

    TestHooks testHooks;

private:
    void renderBlock (juce::AudioBuffer<float>& buffer, bool bypassed) noexcept;
    void storeMirror (size_t parameterIndex, float value, Smoothing) noexcept;
    template <typename BetweenReadAndStore>
    void settleMirror (size_t parameterIndex, Smoothing, BetweenReadAndStore&&);
    void noteChange (size_t parameterIndex) noexcept;
    void replaceStateKeepingNewerChanges (const juce::ValueTree& restored,
                                          const std::array<bool, ParameterIds::all.size()>& named);
    void rebuildCurveAtPositions();
    void buildCurveAndDrift();   // caller holds curveBuildLock

    // Current centres of the three bumps on the curve; guarded by curveBuildLock, which only the
    // two curve builders (the timer thread and the thread running updateParameters) take.
    std::array<int, kestrine::numBumps> bumpCentre {};
    std::mutex curveBuildLock;

    // Raised by the parameter listener when a position, amplitude or width changed; served by
    // the high-resolution timer thread within its next tick.
    std::atomic<bool> curveRequested { false };

    std::array<juce::RangedAudioParameter*, ParameterIds::all.size()> parameterObjects {};
    std::array<std::atomic<float>*, ParameterIds::all.size()> parameterValues {};

    // Per parameter, what parameterChanged has heard: how many changes and the value after the
    // latest. Written by parameterChanged on whichever thread changes the parameter (the
    // framework calls it for one parameter at a time, after storing the new value); read by
    // setStateInformation.
    struct HeardChanges
    {
        std::atomic<std::uint32_t> count { 0 };
        std::atomic<float> latest { 0.0f };
    };

    std::array<HeardChanges, ParameterIds::all.size()> heardChanges;

    // The thread replacing the tree in setStateInformation, or null. Written by that thread,
    // read by parameterChanged on any thread.
    std::atomic<juce::Thread::ThreadID> restoringThread { nullptr };

    // A change the restore made to a parameter its block leaves alone: it happens only when a
    // change from another thread arrived after the restore read the current value, and reverts
    // it. Written and read only by the restoring thread (parameterChanged touches them only
    // when it runs on that thread during the replacement).
    struct Revert
    {
        bool happened = false;
        float newerValue = 0.0f;           // the value the restore replaced
        std::uint32_t countAfter = 0;      // heardChanges count right after the restore's change
    };

    std::array<bool, ParameterIds::all.size()> restoreLeavesAlone {};
    std::array<Revert, ParameterIds::all.size()> reverts {};
    std::mutex restoreLock;   // one restore at a time; never taken by the audio thread

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CompressorAudioProcessor)
};
