#include "PluginProcessor.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
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
