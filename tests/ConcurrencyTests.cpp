#include "PluginProcessor.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

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
