#include "EngineTestSupport.h"
#include "ReferenceEngine.h"

#include "engine/CycleCapture.h"
#include "engine/SampleRenderer.h"
#include "engine/Shaping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

using namespace kestrine;
using kestrine::test::TestMirrors;

namespace
{
    struct Capture
    {
        int at;        // sample index of the capture
        int period;    // captured cycle length W
        float peak;
    };

    /** Feeds a mono signal one sample at a time and lists every capture. */
    std::vector<Capture> capturesOf (const std::vector<float>& input, const BumpCurveTable& curve = {})
    {
        auto renderer = std::make_unique<SampleRenderer>();
        TestMirrors mirrors;
        mirrors.curve = curve;
        std::vector<Capture> captures;

        for (size_t i = 0; i < input.size(); ++i)
        {
            float sample = input[i];
            renderer->process (&sample, nullptr, 1, mirrors, nullptr);

            // A capture restarts the playback at entry 0, which this sample plays.
            if (renderer->bumpPlaying && renderer->bumpPlayIndex == 1)
                captures.push_back ({ static_cast<int> (i), renderer->capture.periodLength, renderer->capture.cyclePeak });
        }

        return captures;
    }

    /** The largest magnitude among the samples a capture at sample t took as its cycle. */
    float expectedPeak (const std::vector<float>& input, const Capture& c)
    {
        const auto first = input.begin() + (c.at - (lookAhead - 1));
        float peak = 0.0f;
        std::for_each (first, first + c.period, [&] (float v) { peak = std::max (peak, std::abs (v)); });
        return std::min (peak, 1.0f);
    }
}

//==============================================================================
TEST (CycleCapture, SinesAreCapturedOncePerPeriodWithTheCycleOneSampleShort)
{
    struct Case { double period; double amplitude; int expectedCycle; int spacing; };
    const Case cases[] = {
        { 100.0,  0.8, 99,   100 },
        { 100.0,  1.7, 99,   100 },    // peaks above 1: the peak is limited to 1
        { 12.0,   0.8, 11,   12 },     // the shortest period that is captured
        { 11.0,   0.8, 0,    0 },      // W = 10: never
        { 11.5,   0.8, 11,   23 },     // alternates between W = 10 (refused) and W = 11
        { 1599.0, 0.8, 1598, 1599 },   // the longest
        { 1600.0, 0.8, 0,    0 },      // the balanced crossing lies beyond the window
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (testing::Message() << "period " << c.period << ", amplitude " << c.amplitude);
        const auto input = test::sine (c.period, 12000, c.amplitude);
        const auto captures = capturesOf (input);

        if (c.expectedCycle == 0)
        {
            EXPECT_TRUE (captures.empty());
            continue;
        }

        ASSERT_GE (captures.size(), 3u);
        EXPECT_GE (captures.front().at, lookAhead);
        EXPECT_LE (captures.front().at, lookAhead + c.spacing);

        for (size_t k = 0; k < captures.size(); ++k)
        {
            EXPECT_EQ (captures[k].period, c.expectedCycle);
            EXPECT_EQ (captures[k].peak, expectedPeak (input, captures[k]));
            EXPECT_LE (captures[k].peak, 1.0f);
            if (k > 0)
            {
                EXPECT_EQ (captures[k].at - captures[k - 1].at, c.spacing);
            }
        }

        if (c.amplitude > 1.0)
        {
            EXPECT_EQ (captures.front().peak, 1.0f);
        }
    }
}

TEST (CycleCapture, AnUnbalancedFirstSubCycleIsSkipped)
{
    // A fundamental of period 200 under a strong second harmonic crosses upwards twice per
    // period; the sub-cycle between the two crossings is far from balanced, so the period
    // ends at the crossing one whole period on.
    std::vector<float> input (8000);
    for (size_t i = 0; i < input.size(); ++i)
    {
        const double theta = 2.0 * juce::MathConstants<double>::pi * (static_cast<double> (i) + 0.1) / 200.0;
        input[i] = static_cast<float> (0.45 * std::sin (theta) + 0.5 * std::sin (2.0 * theta + 0.7));
    }

    const auto captures = capturesOf (input);
    ASSERT_GE (captures.size(), 4u);

    for (const auto& c : captures)
    {
        EXPECT_EQ (c.period, 199) << "at " << c.at;
        EXPECT_EQ (c.peak, expectedPeak (input, c));
    }
}

TEST (CycleCapture, OnlySignChangesBetweenAdjacentSamplesAreCrossings)
{
    // Square waves of period 40 at +-0.5. A 0 between the halves hides that crossing.
    struct Case { const char* name; bool zeroOnTheWayUp; bool zeroOnTheWayDown; bool captured; };
    const Case cases[] = {
        { "no zeros", false, false, true },
        { "zero on the way up (no upward crossing)", true, false, false },
        { "zero on the way down (no falling crossing)", false, true, false },
        { "zeros both ways", true, true, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        std::vector<float> input;
        for (int period = 0; period < 200; ++period)
            for (int i = 0; i < 40; ++i)
            {
                float v = i < 20 ? 0.5f : -0.5f;
                if ((i == 0 && c.zeroOnTheWayUp) || (i == 20 && c.zeroOnTheWayDown))
                    v = 0.0f;
                input.push_back (v);
            }

        const auto captures = capturesOf (input);
        EXPECT_EQ (! captures.empty(), c.captured);

        for (const auto& capture : captures)
            EXPECT_EQ (capture.period, 39);
    }
}

TEST (CycleCapture, NoCaptureFromSilenceDcOrASignalThatNeverRises)
{
    const std::vector<std::vector<float>> inputs {
        std::vector<float> (6000, 0.0f),
        std::vector<float> (6000, 0.3f),
        std::vector<float> (6000, -0.3f),
    };

    for (const auto& input : inputs)
        EXPECT_TRUE (capturesOf (input).empty());
}

TEST (CycleCapture, TheStretchWritesWhatTheFullWalkWritesForEveryLength)
{
    // Every cycle length: the entries the playback plays and the display shows (0 to W, and
    // up to 799) must be those of the walk over all 1600 steps on a cleared signal.
    std::mt19937 random (3);
    std::uniform_real_distribution<float> uniform (-0.5f, 0.5f);
    BumpCurveTable curve;
    for (auto& v : curve)
        v = uniform (random);

    std::array<float, ringLength> signal {}, expected {};

    for (int period = minimumCycle; period <= lookAhead - 2; ++period)
    {
        const float peak = 0.25f + 0.75f * static_cast<float> (period % 7) / 7.0f;
        signal.fill (0.0f);
        stretchCurve (signal, curve, period, peak);
        reference::stretch (expected, curve, period, peak);

        const int shown = std::max (period, curvePoints - 1);
        for (int k = 0; k <= shown; ++k)
            ASSERT_TRUE (test::sameBits (signal[(size_t) k], expected[(size_t) k]))
                << "W " << period << ", entry " << k << ": " << signal[(size_t) k] << " vs " << expected[(size_t) k];
    }
}

//==============================================================================
TEST (Shaping, GainFollowsTheLevel)
{
    struct Case { float v, d, expected; };
    const Case cases[] = {
        { 0.64f, -1.0f, 0.64f }, { 0.64f, -0.3f, 0.64f }, { 0.64f, 0.5f, 0.64f }, { 0.64f, 1.0f, 0.64f },
        { -0.64f, 1.0f, -0.64f },
        { 0.0f, 1.0f, 0.0f }, { 0.0f, -1.0f, 0.0f },
        { 1.0f, 1.0f, 0.505f }, { -1.0f, 1.0f, -0.505f },    // 1 - 0.495
        { 1.0f, -1.0f, 1.495f },
        { 0.3f, 0.0f, 0.3f }, { 0.9f, 0.0f, 0.9f },           // d = 0 changes nothing
        { 0.1f, 1.0f, 0.1f * (1.0f + 0.88f - 0.1375f) },    // raised: 1 + 1.1 (0.8 - 0.125)
    };

    for (const auto& c : cases)
        EXPECT_NEAR (shape (c.v, c.d), c.expected, 1.0e-6f) << "v " << c.v << ", d " << c.d;

    // With d = 0 the gain is exactly 1.
    for (const float v : { 0.3f, -0.77f, 1.5f, 1.0e-20f })
        EXPECT_TRUE (test::sameBits (shape (v, 0.0f), v));
}

TEST (Smoothing, AJumpOfTheTargetGlidesGeometrically)
{
    auto renderer = std::make_unique<SampleRenderer>();
    TestMirrors mirrors;
    mirrors.dryWet.target = 0.0f;

    std::vector<float> block (5000, 0.25f);
    int done = 0;

    for (const int n : { 1, 10, 100, 1000, 5000 })
    {
        renderer->process (block.data(), nullptr, n - done, mirrors, nullptr);
        done = n;
        const double expected = std::pow (1.0 - 0.001, n);
        EXPECT_NEAR (mirrors.dryWet.current.load(), expected, expected * 2.0e-7 * n + 1.0e-9) << n << " samples";
    }
}

TEST (Smoothing, ANonFiniteTargetDoesNotPoisonTheAmount)
{
    EXPECT_EQ (smoothedStep (0.5f, std::numeric_limits<float>::quiet_NaN()), 0.5f);
    EXPECT_EQ (smoothedStep (std::numeric_limits<float>::quiet_NaN(), 0.25f), 0.25f);
    EXPECT_EQ (smoothedStep (0.5f, std::numeric_limits<float>::infinity()), 0.5f);
    EXPECT_TRUE (std::isfinite (smoothedStep (std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::quiet_NaN())));
}

//==============================================================================
TEST (SampleRenderer, OneChannelIsProcessedOnceThroughTheLeftDelayLine)
{
    // The mono output is m x (delayed shaped sample + q) + (1 - m) x input, exactly what the
    // left channel of a stereo renderer gives when both its channels carry the same signal.
    const auto input = test::sine (37.3, 9000);
    auto mono = std::make_unique<SampleRenderer>();
    auto stereo = std::make_unique<SampleRenderer>();
    TestMirrors monoMirrors, stereoMirrors;

    for (auto* m : { &monoMirrors, &stereoMirrors })
    {
        m->curve = test::someCurve();
        m->distortion.target = 0.6f;
        m->dryWet.target = 0.7f;
    }

    auto monoOut = input, left = input, right = input;
    for (size_t at = 0; at < input.size(); at += 300)
    {
        const int n = static_cast<int> (std::min<size_t> (300, input.size() - at));
        mono->process (monoOut.data() + at, nullptr, n, monoMirrors, nullptr);
        stereo->process (left.data() + at, right.data() + at, n, stereoMirrors, nullptr);
    }

    for (size_t i = 0; i < input.size(); ++i)
        ASSERT_TRUE (test::sameBits (monoOut[i], left[i])) << i;

    EXPECT_TRUE (std::all_of (mono->delayRight.begin(), mono->delayRight.end(), [] (float v) { return v == 0.0f; }));
    EXPECT_GT (mono->capture.periodLength, 0);
}
