#include "MirrorChecks.h"
#include "PluginEditor.h"
#include "PluginProcessor.h"
#include "StateBlockBuilders.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

// Runs the three threads that meet in the processor at once: the high-resolution timer
// thread (always running), a thread calling updateParameters as the editor and prepareToPlay
// do, and an audio thread, while host automation arrives from a fourth. Under the
// ThreadSanitizer build this shows that the curve hand-over and the shared flags are race-free;
// in every build it shows that the audio thread only ever sees whole curves.
TEST (Concurrency, TimerUpdatesAndProcessingRunTogether)
{
    CompressorAudioProcessor processor;
    processor.prepareToPlay (48000.0, 256);

    std::atomic<bool> stop { false };
    std::atomic<int> tornCurves { 0 };

    std::thread updater ([&]
    {
        for (int i = 0; ! stop; ++i)
        {
            processor.bumps[1].amplitude = (i % 2 == 0) ? 0.5f : -0.5f;
            processor.bumps[1].position = static_cast<float> (100 + i % 600);
            processor.updateParameters (i % 7 == 0);
            std::this_thread::sleep_for (1ms);
        }
    });

    std::thread automation ([&]
    {
        auto* velocity = processor.parameters.getParameter ("velocity");
        auto* width = processor.parameters.getParameter ("wavelength1");
        for (int i = 0; ! stop; ++i)
        {
            velocity->setValueNotifyingHost (static_cast<float> (i % 100) / 100.0f);
            width->setValueNotifyingHost (static_cast<float> (i % 50) / 50.0f);
            std::this_thread::sleep_for (2ms);
        }
    });

    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, 256);
        juce::MidiBuffer midi;
        float phase = 0.0f;

        while (! stop)
        {
            for (int i = 0; i < buffer.getNumSamples(); ++i, phase += 0.0628f)
                for (int c = 0; c < 2; ++c)
                    buffer.setSample (c, i, 0.8f * std::sin (phase));

            processor.processBlock (buffer, midi);

            // Every curve the audio thread takes is a whole one: bump 1 is either all
            // positive or all negative, never a mix of two builds.
            const auto& curve = processor.currentBumpCurve();
            bool positive = false, negative = false;
            for (auto v : curve)
            {
                positive = positive || v > 0.0f;
                negative = negative || v < -0.0f;
            }
            tornCurves += (positive && negative) ? 1 : 0;
        }
    });

    kestrine::test::runMessageLoopFor (2500ms);
    stop = true;
    updater.join();
    automation.join();
    audio.join();

    EXPECT_EQ (tornCurves.load(), 0);
    EXPECT_TRUE (processor.blockProcessed.exchange (false));
}

//==============================================================================
namespace
{
    float parameterValue (CompressorAudioProcessor& processor, const char* id)
    {
        return processor.parameters.getRawParameterValue (id)->load();
    }

    /** The last value the processor told its host for each parameter, from any thread. */
    struct HostRecord : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float value) override
        {
            if (index >= 0 && index < static_cast<int> (told.size()))
                told[static_cast<size_t> (index)] = value;
        }

        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

        std::array<std::atomic<float>, ParameterIds::all.size() + 1> told {};
    };

    size_t indexOf (const char* id)
    {
        for (size_t i = 0; i < ParameterIds::all.size(); ++i)
            if (std::strcmp (ParameterIds::all[i], id) == 0)
                return i;

        throw std::invalid_argument (id);
    }
}

// A refresh of the mirrors (the one-shot timer, prepareToPlay) reads each parameter and then
// stores its mirror. Host automation that lands in between, from the audio thread, must not be
// overwritten by the older value it read.
TEST (Concurrency, AutomationBetweenARefreshsReadAndStoreIsKept)
{
    struct Case { const char* id; float before, automated; };
    const Case cases[] = {
        { "amplitude2", 0.1f, -0.3f }, { "frequency3", 600.0f, 512.5f }, { "wavelength1", 50.0f, 20.0f },
        { "velocity", 0.2f, -0.7f }, { "distortion", -0.4f, 0.6f }, { "drywet", 0.9f, 0.35f },
        { "backColor", 1.0f, 4.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.id);
        CompressorAudioProcessor processor;
        processor.juce::Timer::stopTimer();
        kestrine::test::automate (processor, c.id, c.before);

        bool injected = false;
        processor.testHooks.afterParameterRead = [&] (size_t index)
        {
            if (! injected && index == indexOf (c.id))
            {
                injected = true;
                kestrine::test::automateFromAnotherThread (processor, c.id, c.automated);
            }
        };

        processor.updateParameters (true);
        ASSERT_TRUE (injected);

        EXPECT_FLOAT_EQ (parameterValue (processor, c.id), c.automated);
        EXPECT_EQ (kestrine::test::mirrorMismatches (processor), "");

        // The refresh still jumps the smoothed amounts rather than letting them glide.
        EXPECT_EQ (processor.distortion.current.load(), processor.distortion.target.load());
        EXPECT_EQ (processor.dryWet.current.load(), processor.dryWet.target.load());
    }
}

// A restore reads the current values of the parameters its block leaves out, to keep them.
// Host automation that lands between that read and the replacement is newer than the value
// read and must survive, with the host's last word being the automated value; a parameter that
// the block names takes the block's value, since the restore is then the newer change.
TEST (Concurrency, AutomationDuringARestoreIsKeptUnlessTheBlockNamesTheParameter)
{
    struct Case { const char* id; bool named; float before, automated, expected; };
    const Case cases[] = {
        { "velocity",   false, 0.2f,   0.7f,  0.7f },
        { "frequency2", false, 400.0f, 333.0f, 333.0f },
        { "backColor",  false, 2.0f,   5.0f,  5.0f },
        { "drywet",     false, 0.5f,   0.25f, 0.25f },
        { "velocity",   true,  0.2f,   0.7f,  -0.5f },
        { "frequency2", true,  400.0f, 333.0f, 250.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (std::string (c.id) + (c.named ? " named" : " left out"));
        CompressorAudioProcessor processor;
        processor.juce::Timer::stopTimer();
        processor.prepareToPlay (48000.0, 256);
        kestrine::test::automate (processor, c.id, c.before);

        HostRecord host;
        processor.addListener (&host);

        std::string entries = kestrine::test::entry ("amplitude1", "0.25");
        if (c.named)
            entries += kestrine::test::entry (c.id, juce::String (c.expected).toStdString());

        const auto block = kestrine::test::blockOf (kestrine::test::documentWith (entries));

        bool injected = false;
        processor.testHooks.beforeStateReplace = [&]
        {
            injected = true;
            kestrine::test::automateFromAnotherThread (processor, c.id, c.automated);
        };

        processor.setStateInformation (block.data(), static_cast<int> (block.size()));
        processor.removeListener (&host);
        ASSERT_TRUE (injected);

        EXPECT_FLOAT_EQ (parameterValue (processor, "amplitude1"), 0.25f);
        EXPECT_FLOAT_EQ (parameterValue (processor, c.id), c.expected);
        EXPECT_EQ (kestrine::test::mirrorMismatches (processor), "");

        auto* parameter = processor.parameters.getParameter (c.id);
        EXPECT_FLOAT_EQ (host.told[static_cast<size_t> (parameter->getParameterIndex())].load(),
                         parameter->convertTo0to1 (c.expected));
    }
}

//==============================================================================
namespace
{
    /** A small deterministic generator, so that a failing run can be repeated. */
    struct Random
    {
        std::uint32_t state;

        std::uint32_t next() noexcept     { state = state * 1664525u + 1013904223u; return state >> 8; }
        float unit() noexcept             { return static_cast<float> (next() % 10001u) / 10000.0f; }
        size_t below (size_t n) noexcept  { return static_cast<size_t> (next()) % n; }
    };

    juce::MouseEvent handleEvent (DotComponent& dot, juce::Point<float> offset)
    {
        const juce::Point<float> down { 7.0f, 7.0f };
        const auto now = juce::Time::getCurrentTime();
        return { juce::Desktop::getInstance().getMainMouseSource(), down + offset, {},
                 juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f,
                 &dot, &dot, now, down, now, 1, ! offset.isOrigin() };
    }

    /** A state block naming a random half of the parameters with random values in range. */
    kestrine::test::Bytes randomStateBlock (CompressorAudioProcessor& processor, Random& random)
    {
        std::string entries;

        for (const auto* id : ParameterIds::all)
            if (random.below (2) == 0)
            {
                const float value = processor.parameters.getParameterRange (id).convertFrom0to1 (random.unit());
                entries += kestrine::test::entry (id, juce::String (value).toStdString());
            }

        return kestrine::test::blockOf (kestrine::test::documentWith (entries));
    }
}

// Every source of parameter changes at once for a few seconds: host automation and processing
// on an audio thread; on the message thread the editor's knobs, theme box and handle drags with
// its repaints, state restores, and the refreshes of the one-shot timer and prepareToPlay; the
// curve builders' timer thread throughout. The run ends with the audio thread's last burst of
// automation against the timer's refreshes and knob turns on the message thread, which stop as
// soon as the audio thread has finished (the sliders lag behind, as the message loop no longer
// runs), and nothing corrects a mirror afterwards. Then every mirror must equal its parameter.
// Under the ThreadSanitizer build this also shows the paths race-free.
TEST (Concurrency, AllSourcesOfChangeLeaveEveryMirrorOnItsParameter)
{
    CompressorAudioProcessor processor;
    processor.prepareToPlay (48000.0, 256);
    auto editor = std::make_unique<CompressorAudioProcessorEditor> (processor);

    std::vector<juce::Slider*> knobs;
    for (const auto* id : { "wavelength1", "wavelength2", "wavelength3", "velocity", "distortion", "drywet" })
        knobs.push_back (dynamic_cast<juce::Slider*> (editor->findChildWithID (id)));

    std::vector<DotComponent*> handles;
    for (const auto* id : { "handle1", "handle2", "handle3" })
        handles.push_back (dynamic_cast<DotComponent*> (editor->findChildWithID (id)));

    auto* themes = dynamic_cast<juce::ComboBox*> (editor->findChildWithID ("backColor"));
    ASSERT_EQ (std::count (knobs.begin(), knobs.end(), nullptr) + std::count (handles.begin(), handles.end(), nullptr), 0);
    ASSERT_NE (themes, nullptr);

    std::atomic<bool> endPhase { false }, audioDone { false };

    std::thread audio ([&]
    {
        Random random { 7 };
        juce::AudioBuffer<float> buffer (2, 256);
        juce::MidiBuffer midi;
        float phase = 0.0f;

        const auto automateSome = [&] (int changes)
        {
            for (int change = 0; change < changes; ++change)
            {
                juce::AudioProcessorParameter* parameter = processor.parameters.getParameter (ParameterIds::all[random.below (ParameterIds::all.size())]);
                const float value = random.unit();
                parameter->setValue (value);
                parameter->sendValueChangedMessageToListeners (value);
            }
        };

        while (! endPhase)
        {
            automateSome (3);

            for (int i = 0; i < buffer.getNumSamples(); ++i, phase += 0.05f)
                for (int c = 0; c < 2; ++c)
                    buffer.setSample (c, i, 0.6f * std::sin (phase));

            processor.processBlock (buffer, midi);
            std::this_thread::yield();
        }

        automateSome (2000);
        audioDone = true;
    });

    Random random { 11 };
    const auto turnAKnob = [&]
    {
        auto* knob = knobs[random.below (knobs.size())];
        knob->setValue (knob->proportionOfLengthToValue (random.unit()), juce::sendNotificationSync);
    };
    const auto deadline = juce::Time::getMillisecondCounter() + 3000;

    while (juce::Time::getMillisecondCounter() < deadline)
    {
        switch (random.below (6))
        {
            case 0:
                turnAKnob();
                break;
            case 1:
                themes->setSelectedId (static_cast<int> (random.below (6)) + 1, juce::sendNotificationSync);
                break;
            case 2:
            {
                auto* dot = handles[random.below (handles.size())];
                const juce::Point<float> offset { random.unit() * 60.0f - 30.0f, random.unit() * 60.0f - 30.0f };
                dot->mouseDown (handleEvent (*dot, {}));
                dot->mouseDrag (handleEvent (*dot, offset * 0.5f));
                editor->createComponentSnapshot (editor->getLocalBounds());
                dot->mouseUp (handleEvent (*dot, offset));
                break;
            }
            case 3:
            {
                const auto block = randomStateBlock (processor, random);
                processor.setStateInformation (block.data(), static_cast<int> (block.size()));
                break;
            }
            case 4:
                processor.updateParameters (true);
                break;
            default:
                editor->createComponentSnapshot (editor->getLocalBounds());
                break;
        }

        juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
    }

    // Let the editor's pending updates land first, so that the end phase is refreshes only.
    kestrine::test::runMessageLoopFor (100ms);
    endPhase = true;

    while (! audioDone)
    {
        processor.updateParameters (true);
        turnAKnob();
    }

    audio.join();
    EXPECT_EQ (kestrine::test::mirrorMismatches (processor), "");
    editor.reset();
}

// The audio thread hands over what the display views are made from at the end of every block,
// with no editor involved; the message thread makes the views whenever it reads them. Under the
// ThreadSanitizer build this shows the hand-over race-free; in every build that every pair of
// views comes from one capture: the cycles alternate between two levels, and a view normalised
// to the peak of another capture would not reach a magnitude of 1.
TEST (Concurrency, DisplayViewsAreHandedOverWhileAudioRuns)
{
    CompressorAudioProcessor processor;
    processor.prepareToPlay (48000.0, 256);

    std::atomic<bool> stop { false };
    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, 256);
        juce::MidiBuffer midi;
        double phase = 0.0;

        for (int block = 0; ! stop; ++block)
        {
            const double level = (block / 3) % 2 == 0 ? 0.3 : 0.9;
            for (int i = 0; i < buffer.getNumSamples(); ++i, phase += 0.0628)
                for (int c = 0; c < 2; ++c)
                    buffer.setSample (c, i, static_cast<float> (level * std::sin (phase + 0.1)));

            processor.processBlock (buffer, midi);
        }
    });

    int reads = 0, shown = 0, mixed = 0;
    const auto until = juce::Time::getMillisecondCounter() + 1500;

    while (juce::Time::getMillisecondCounter() < until)
    {
        const auto& views = processor.latestDisplayViews();
        float largest = 0.0f;
        for (const float v : views.normalisedView)
            largest = std::max (largest, std::abs (v));

        shown += largest > 0.0f ? 1 : 0;
        // Interpolated next to the peak sample (points 1/8 of a sample apart), it comes within a
        // quarter of 1; normalised to the peak of the other level it would be 3 or 1/3.
        mixed += largest > 0.0f && (largest < 0.75f || largest > 1.0001f) ? 1 : 0;
        ++reads;
        std::this_thread::sleep_for (1ms);
    }

    stop = true;
    audio.join();

    EXPECT_GT (shown, reads / 2);
    EXPECT_EQ (mixed, 0);
}
