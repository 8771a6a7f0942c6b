#include "EngineTestSupport.h"
#include "PluginProcessor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>

namespace
{
    constexpr int latency = kestrine::lookAhead;

    /** Stereo test input: two different signals, so the channels can be told apart. */
    struct StereoSignal
    {
        std::vector<float> left, right;
    };

    StereoSignal musicalSignal (int length)
    {
        auto left = kestrine::test::sine (100.0, length);
        auto right = kestrine::test::sine (61.3, length, 0.5);
        for (size_t i = 0; i < left.size(); ++i)
            left[i] += 0.2f * right[i];
        return { left, right };
    }

    /** Processes a signal through the processor in blocks; bypassed(blockIndex) decides the
        path of each block. Returns the output. */
    StereoSignal render (CompressorAudioProcessor& processor, const StereoSignal& input, int blockSize,
                         const std::function<bool (int)>& bypassed = [] (int) { return false; })
    {
        StereoSignal output = input;
        juce::MidiBuffer midi;
        int block = 0;

        for (size_t at = 0; at < input.left.size(); at += (size_t) blockSize, ++block)
        {
            const int n = (int) std::min<size_t> ((size_t) blockSize, input.left.size() - at);
            float* channels[] = { output.left.data() + at, output.right.data() + at };
            juce::AudioBuffer<float> buffer (channels, 2, n);

            if (bypassed (block))
                processor.processBlockBypassed (buffer, midi);
            else
                processor.processBlock (buffer, midi);
        }

        return output;
    }

    void expectDelayedBy (const std::vector<float>& output, const std::vector<float>& input, int delay, const char* what)
    {
        for (size_t i = 0; i < output.size(); ++i)
        {
            const float expected = i < (size_t) delay ? 0.0f : input[i - (size_t) delay];
            ASSERT_EQ (output[i], expected) << what << " sample " << i;
        }
    }

    /** A processor whose effect is plainly audible: shaping, bumps, fully wet. */
    std::unique_ptr<CompressorAudioProcessor> audibleProcessor()
    {
        auto processor = std::make_unique<CompressorAudioProcessor>();
        for (auto& bump : processor->bumps)
            bump.amplitude = 0.4f;
        processor->distortion.current = processor->distortion.target = 0.8f;
        processor->updateParameters (false);
        return processor;
    }
}

TEST (Rendering, DefaultsGiveTheInputDelayedByExactlyTheLatency)
{
    CompressorAudioProcessor processor;
    processor.prepareToPlay (48000.0, 512);
    EXPECT_EQ (processor.getLatencySamples(), latency);

    const auto input = musicalSignal (10000);
    const auto output = render (processor, input, 512);

    expectDelayedBy (output.left, input.left, latency, "left");
    expectDelayedBy (output.right, input.right, latency, "right");
    EXPECT_GT (processor.engine.capture.periodLength, 0);   // captures happened, and added nothing
}

TEST (Rendering, FullyDryGivesTheInputItself)
{
    auto processor = audibleProcessor();
    processor->dryWet.current = processor->dryWet.target = 0.0f;

    const auto input = musicalSignal (6000);
    const auto output = render (*processor, input, 333);

    for (size_t i = 0; i < input.left.size(); ++i)
    {
        ASSERT_EQ (output.left[i], input.left[i]) << i;
        ASSERT_EQ (output.right[i], input.right[i]) << i;
    }
}

TEST (Rendering, ABlockOfNoSamplesOnlyMarksTheBlock)
{
    auto processor = audibleProcessor();
    render (*processor, musicalSignal (4000), 256);

    const auto before = std::make_unique<kestrine::SampleRenderer> (processor->engine);
    const float distortionBefore = processor->distortion.current, dryWetBefore = processor->dryWet.current;
    processor->blockProcessed = false;

    juce::AudioBuffer<float> empty (2, 0);
    juce::MidiBuffer midi;
    processor->processBlock (empty, midi);

    EXPECT_TRUE (processor->blockProcessed.load());
    EXPECT_EQ (std::memcmp (before.get(), &processor->engine, sizeof (kestrine::SampleRenderer)), 0);
    EXPECT_EQ (processor->distortion.current.load(), distortionBefore);
    EXPECT_EQ (processor->dryWet.current.load(), dryWetBefore);
}

TEST (Rendering, TheDisplayShowsTheLastCaptureWithOrWithoutAnEditor)
{
    // No editor is open: the views are still those of the last capture, as an editor opened
    // later (on a stopped transport) must show them. They are exactly what the engine makes
    // of the same signal with the same curve.
    auto processor = audibleProcessor();
    const auto input = musicalSignal (8000);
    const auto blank = processor->latestDisplayViews();

    render (*processor, input, 512);
    const auto shown = processor->latestDisplayViews();
    EXPECT_NE (shown.sampleView, blank.sampleView);
    EXPECT_NE (shown.normalisedView, blank.normalisedView);

    // The normalised view shows one period scaled to its peak, shaped (distortion 0.8 lowers a
    // peak of 1 to 0.604), plus the curve.
    const float largest = *std::max_element (shown.normalisedView.begin(), shown.normalisedView.end());
    EXPECT_GT (largest, 0.6f);
    EXPECT_LT (largest, 2.5f);

    auto engine = std::make_unique<kestrine::SampleRenderer>();
    kestrine::test::TestMirrors mirrors;
    mirrors.curve = processor->currentBumpCurve();
    mirrors.distortion.current = mirrors.distortion.target = 0.8f;
    auto left = input.left, right = input.right;
    kestrine::DisplayViews expected;
    const juce::ScopedNoDenormals noDenormals;
    ASSERT_TRUE (engine->process (left.data(), right.data(), (int) left.size(), mirrors, &expected));
    EXPECT_EQ (shown.sampleView, expected.sampleView);
    EXPECT_EQ (shown.normalisedView, expected.normalisedView);

    // Reading them again without a new block gives the same views.
    EXPECT_EQ (processor->latestDisplayViews().sampleView, shown.sampleView);
}

//==============================================================================
TEST (Bypass, KeepsTheLatencyAndTheTimeLine)
{
    const auto input = musicalSignal (20000);

    // Bypassed throughout: the input delayed by exactly the latency, though the settings are audible.
    {
        auto processor = audibleProcessor();
        const auto output = render (*processor, input, 480, [] (int) { return true; });
        expectDelayedBy (output.left, input.left, latency, "left");
        expectDelayedBy (output.right, input.right, latency, "right");
    }

    // Switching: while bypassed the output is the delayed input from the first bypassed sample
    // on; once processing resumes it is exactly what it would have been without the bypass.
    auto switched = audibleProcessor();
    auto neverBypassed = audibleProcessor();
    const auto bypassedBlocks = [] (int block) { return (block >= 10 && block < 14) || (block >= 25 && block < 26) || block == 33; };
    const auto output = render (*switched, input, 480, bypassedBlocks);
    const auto processed = render (*neverBypassed, input, 480);

    for (size_t i = 0; i < input.left.size(); ++i)
    {
        const bool bypassed = bypassedBlocks ((int) (i / 480));
        const float expectedLeft = bypassed ? (i < (size_t) latency ? 0.0f : input.left[i - latency]) : processed.left[i];
        const float expectedRight = bypassed ? (i < (size_t) latency ? 0.0f : input.right[i - latency]) : processed.right[i];
        ASSERT_EQ (output.left[i], expectedLeft) << "sample " << i << (bypassed ? " (bypassed)" : "");
        ASSERT_EQ (output.right[i], expectedRight) << "sample " << i << (bypassed ? " (bypassed)" : "");
    }

    // The processed output really differs from the plain delayed input.
    int differing = 0;
    for (size_t i = latency; i < input.left.size(); ++i)
        differing += processed.left[i] != input.left[i - latency] ? 1 : 0;
    EXPECT_GT (differing, 10000);
}

TEST (Bypass, DefaultsSoundTheSameBypassedOrNot)
{
    // With the default settings both paths give the delayed input, so toggling is seamless.
    CompressorAudioProcessor processor;
    const auto input = musicalSignal (12000);
    const auto output = render (processor, input, 512, [] (int block) { return block % 3 == 1; });
    expectDelayedBy (output.left, input.left, latency, "left");
    expectDelayedBy (output.right, input.right, latency, "right");
}

//==============================================================================
TEST (NonFiniteInput, TheEngineRecoversOnceTheSamplesHaveLeftIt)
{
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr float inf = std::numeric_limits<float>::infinity();

    struct Case { const char* name; float left, right; };
    const Case cases[] = {
        { "NaN", nan, nan },
        { "+inf", inf, inf },
        { "-inf", -inf, -inf },
        { "+inf and -inf", inf, -inf },
        { "NaN in one channel", 0.0f, nan },
    };

    const auto clean = musicalSignal (16000);
    constexpr size_t burstStart = 5000, burstLength = 300;

    // The same signal with the burst silenced: what the engine must return to.
    auto silenced = clean;
    for (size_t i = burstStart; i < burstStart + burstLength; ++i)
        silenced.left[i] = silenced.right[i] = 0.0f;

    auto reference = audibleProcessor();
    const auto expected = render (*reference, silenced, 256);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto input = silenced;
        for (size_t i = burstStart; i < burstStart + burstLength; ++i)
        {
            input.left[i] = c.left;
            input.right[i] = c.right;
        }

        auto processor = audibleProcessor();
        const auto output = render (*processor, input, 256);

        // Once the burst has left the delay line, the output is that of the silenced signal.
        const size_t recovered = burstStart + burstLength + latency;
        for (size_t i = recovered; i < output.left.size(); ++i)
        {
            ASSERT_TRUE (kestrine::test::sameBits (output.left[i], expected.left[i])) << "sample " << i;
            ASSERT_TRUE (kestrine::test::sameBits (output.right[i], expected.right[i])) << "sample " << i;
        }

        // Captures went on: the views are those of the same last capture, and finite.
        const auto& views = processor->latestDisplayViews();
        EXPECT_EQ (views.sampleView, reference->latestDisplayViews().sampleView);
        EXPECT_TRUE (std::all_of (views.normalisedView.begin(), views.normalisedView.end(), [] (float v) { return std::isfinite (v); }));
        EXPECT_TRUE (std::isfinite (processor->distortion.current.load()));
    }
}

TEST (NonFiniteInput, ANonFiniteParameterValueIsNotKeptOnceAValidOneArrives)
{
    auto processor = audibleProcessor();
    const auto input = musicalSignal (4000);

    processor->dryWet.target = std::numeric_limits<float>::quiet_NaN();
    processor->distortion.target = std::numeric_limits<float>::infinity();
    render (*processor, input, 512);
    EXPECT_TRUE (std::isfinite (processor->dryWet.current.load()));
    EXPECT_TRUE (std::isfinite (processor->distortion.current.load()));

    processor->dryWet.target = 0.5f;
    processor->distortion.target = 0.2f;
    const auto output = render (*processor, input, 512);
    EXPECT_TRUE (std::all_of (output.left.begin(), output.left.end(), [] (float v) { return std::isfinite (v); }));
    EXPECT_NEAR (processor->dryWet.current.load(), 0.5f, 0.05f);
}
