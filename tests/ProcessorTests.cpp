#include "PluginProcessor.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace
{
    void setParameter (CompressorAudioProcessor& processor, const char* id, float plainValue)
    {
        auto* parameter = processor.parameters.getParameter (id);
        ASSERT_NE (parameter, nullptr) << id;
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (plainValue));
    }

    int peakIndex (const kestrine::BumpCurveTable& curve)
    {
        return static_cast<int> (std::max_element (curve.begin(), curve.end()) - curve.begin());
    }

    bool waitFor (const std::function<bool()>& condition)
    {
        for (int i = 0; i < 300; ++i)
        {
            if (condition())
                return true;
            std::this_thread::sleep_for (5ms);
        }
        return condition();
    }

    struct LatencyListener : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails& details) override
        {
            latencyChanges += details.latencyChanged ? 1 : 0;
        }
        int latencyChanges = 0;
    };
}

TEST (Processor, AcceptsOnlyEqualMonoOrStereoLayouts)
{
    CompressorAudioProcessor processor;
    using Set = juce::AudioChannelSet;

    struct Case { Set input, output; bool accepted; };
    const Case cases[] = {
        { Set::stereo(), Set::stereo(), true },
        { Set::mono(), Set::mono(), true },
        { Set::mono(), Set::stereo(), false },
        { Set::stereo(), Set::mono(), false },
        { Set::stereo(), Set::disabled(), false },
        { Set::disabled(), Set::disabled(), false },
        { Set::create5point1(), Set::create5point1(), false },
        { Set::createLCR(), Set::createLCR(), false },
    };

    for (const auto& c : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (c.input);
        layout.outputBuses.add (c.output);
        EXPECT_EQ (processor.checkBusesLayoutSupported (layout), c.accepted)
            << c.input.getDescription() << " -> " << c.output.getDescription();
    }
}

TEST (Processor, HostFacingAnswers)
{
    CompressorAudioProcessor processor;

    EXPECT_EQ (processor.getName(), "Kestrine");
    EXPECT_EQ (processor.getTailLengthSeconds(), 0.0);
    EXPECT_FALSE (processor.acceptsMidi());
    EXPECT_FALSE (processor.producesMidi());
    EXPECT_FALSE (processor.isMidiEffect());
    EXPECT_TRUE (processor.hasEditor());
    EXPECT_EQ (processor.getNumPrograms(), 1);
    EXPECT_EQ (processor.getCurrentProgram(), 0);
    EXPECT_EQ (processor.getProgramName (0), "Default");

    processor.setCurrentProgram (0);
    processor.changeProgramName (0, "Renamed");
    EXPECT_EQ (processor.getProgramName (0), "Default");

    EXPECT_EQ (processor.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (processor.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (processor.getTotalNumInputChannels(), 2);
    EXPECT_EQ (processor.getTotalNumOutputChannels(), 2);
}

TEST (Processor, ParameterLayoutIsTheThirteenParametersInHostOrder)
{
    CompressorAudioProcessor processor;

    struct Expected { const char* id; const char* name; float minimum, maximum, defaultValue; };
    const Expected expected[] = {
        { "amplitude1", "Amplitude1", -0.5f, 0.5f, 0.0f },  { "frequency1", "Position1", 0.0f, 800.0f, 200.0f },
        { "wavelength1", "Width1", 5.0f, 100.0f, 50.0f },   { "amplitude2", "Amplitude2", -0.5f, 0.5f, 0.0f },
        { "frequency2", "Position2", 0.0f, 800.0f, 400.0f }, { "wavelength2", "Width2", 5.0f, 100.0f, 50.0f },
        { "amplitude3", "Amplitude3", -0.5f, 0.5f, 0.0f },  { "frequency3", "Position3", 0.0f, 800.0f, 600.0f },
        { "wavelength3", "Width3", 5.0f, 100.0f, 50.0f },   { "velocity", "Velocity", -1.0f, 1.0f, 0.0f },
        { "distortion", "Distortion", -1.0f, 1.0f, 0.0f },  { "drywet", "Dry/Wet", 0.0f, 1.0f, 1.0f },
        { "backColor", "BackColor", 0.0f, 5.0f, 0.0f },
    };

    const auto& all = processor.getParameters();
    ASSERT_EQ (all.size(), 13);

    for (int i = 0; i < all.size(); ++i)
    {
        auto* parameter = dynamic_cast<juce::RangedAudioParameter*> (all[i]);
        ASSERT_NE (parameter, nullptr);
        const auto& e = expected[i];

        EXPECT_EQ (parameter->getParameterID(), e.id);
        EXPECT_EQ (parameter->getName (64), e.name);
        EXPECT_TRUE (parameter->isAutomatable());
        EXPECT_EQ (parameter->getNormalisableRange().start, e.minimum) << e.id;
        EXPECT_EQ (parameter->getNormalisableRange().end, e.maximum) << e.id;
        EXPECT_EQ (parameter->convertFrom0to1 (parameter->getDefaultValue()), e.defaultValue) << e.id;
        EXPECT_EQ (parameter->getLabel(), "");

        if (i < 12)
        {
            EXPECT_FLOAT_EQ (parameter->getNormalisableRange().interval, 0.01f) << e.id;
            EXPECT_EQ (parameter->getNormalisableRange().skew, 1.0f) << e.id;
        }
    }

    auto* choice = dynamic_cast<juce::AudioParameterChoice*> (all[12]);
    ASSERT_NE (choice, nullptr);
    EXPECT_EQ (choice->choices, juce::StringArray ({ "Vibrato", "Crescendo", "Rhapsody", "Staccato", "Tremolo", "Arpeggio" }));
}

TEST (Processor, LatencyIsReportedOnceAtTheFirstPrepare)
{
    CompressorAudioProcessor processor;
    LatencyListener listener;
    processor.addListener (&listener);

    EXPECT_EQ (processor.getLatencySamples(), 0);
    processor.prepareToPlay (48000.0, 512);
    EXPECT_EQ (processor.getLatencySamples(), 1600);
    processor.prepareToPlay (96000.0, 64);
    EXPECT_EQ (processor.getLatencySamples(), 1600);
    EXPECT_EQ (listener.latencyChanges, 1);

    processor.removeListener (&listener);
}

TEST (Processor, MirrorsStayZeroUntilTheFirstRefreshAndTheOneShotTimerFiresOnce)
{
    CompressorAudioProcessor processor;

    for (const auto& bump : processor.bumps)
    {
        EXPECT_EQ (bump.amplitude.load(), 0.0f);
        EXPECT_EQ (bump.position.load(), 0.0f);
        EXPECT_EQ (bump.width.load(), 0.0f);
    }
    EXPECT_EQ (processor.getLatencySamples(), 0);

    const auto flat = processor.currentBumpCurve();
    EXPECT_TRUE (std::all_of (flat.begin(), flat.end(), [] (float v) { return v == 0.0f; }));

    // The one-shot timer refreshes the mirrors about a second after construction, then stops.
    ASSERT_TRUE (kestrine::test::runMessageLoopUntil ([&] { return processor.getLatencySamples() == 1600; }, 3000ms));
    EXPECT_FALSE (processor.juce::Timer::isTimerRunning());
    EXPECT_EQ (processor.bumps[1].position.load(), 400.0f);
    EXPECT_EQ (processor.bumps[2].width.load(), 50.0f);
    EXPECT_EQ (processor.dryWet.current.load(), 1.0f);
    EXPECT_TRUE (processor.juce::HighResolutionTimer::isTimerRunning());
}

TEST (Processor, UpdateParametersJumpsTheSmoothedValuesAndMapsTheTheme)
{
    CompressorAudioProcessor processor;
    setParameter (processor, "backColor", 3.0f);
    setParameter (processor, "distortion", -0.4f);
    processor.distortion.current = 0.9f;

    processor.updateParameters (true);

    EXPECT_EQ (processor.backgroundIndex.load(), 4);
    EXPECT_FLOAT_EQ (processor.distortion.current.load(), -0.4f);
    EXPECT_FLOAT_EQ (processor.distortion.target.load(), -0.4f);
}

TEST (Processor, HostChangesReachTheMirrorsWithoutAnEditor)
{
    CompressorAudioProcessor processor;
    processor.prepareToPlay (48000.0, 512);

    setParameter (processor, "distortion", 0.7f);
    setParameter (processor, "drywet", 0.25f);
    setParameter (processor, "velocity", -0.3f);
    setParameter (processor, "backColor", 5.0f);

    EXPECT_FLOAT_EQ (processor.distortion.target.load(), 0.7f);
    EXPECT_EQ (processor.distortion.current.load(), 0.0f);   // glides from where it was
    EXPECT_FLOAT_EQ (processor.dryWet.target.load(), 0.25f);
    EXPECT_EQ (processor.dryWet.current.load(), 1.0f);
    EXPECT_FLOAT_EQ (processor.driftSpeed.load(), -0.3f);
    EXPECT_EQ (processor.backgroundIndex.load(), 6);
}

TEST (Processor, AMovedPositionPutsTheCentresBackAndRebuildsTheCurve)
{
    CompressorAudioProcessor processor;
    processor.prepareToPlay (48000.0, 512);

    // Let the bumps drift away from their positions, then stop them.
    setParameter (processor, "velocity", 0.5f);
    ASSERT_TRUE (waitFor ([&] { return processor.currentBumpCentres()[0] > 260; }));
    setParameter (processor, "velocity", 0.0f);
    std::this_thread::sleep_for (30ms);
    ASSERT_NE (processor.currentBumpCentres()[0], 200);

    setParameter (processor, "amplitude2", 0.5f);
    setParameter (processor, "frequency2", 300.0f);
    EXPECT_FLOAT_EQ (processor.bumps[1].position.load(), 300.0f);

    // The timer thread serves the request within its next tick.
    ASSERT_TRUE (waitFor ([&] { return peakIndex (processor.currentBumpCurve()) == 300; }));
    EXPECT_FLOAT_EQ (processor.currentBumpCurve()[300], 0.5f);
    EXPECT_EQ (processor.currentBumpCentres(), (std::array<int, 3> { 200, 300, 600 }));
}
