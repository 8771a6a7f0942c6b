#pragma once

#include "engine/BumpCurve.h"
#include "engine/SampleRenderer.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

namespace kestrine::test
{
    /** What the renderer reads from the processor, held by a test. */
    struct TestMirrors
    {
        struct Amount
        {
            std::atomic<float> current, target;
        };

        Amount distortion { { 0.0f }, { 0.0f } };
        Amount dryWet { { 1.0f }, { 1.0f } };
        BumpCurveTable curve {};

        const BumpCurveTable& currentBumpCurve() noexcept { return curve; }
    };

    inline bool sameBits (float a, float b) noexcept
    {
        std::uint32_t x, y;
        std::memcpy (&x, &a, sizeof x);
        std::memcpy (&y, &b, sizeof y);
        return x == y;
    }

    /** A sine of the given period in samples, phase-shifted so that no sample is exactly 0. */
    inline std::vector<float> sine (double period, int length, double amplitude = 0.8)
    {
        std::vector<float> s (static_cast<size_t> (length));
        for (size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<float> (amplitude * std::sin (2.0 * juce::MathConstants<double>::pi
                                                              * (static_cast<double> (i) + 0.1) / period));
        return s;
    }

    /** A curve of three bumps, for tests that need the bump signal to be audible. */
    inline BumpCurveTable someCurve (float scale = 1.0f)
    {
        BumpCurveTable curve {};
        buildBumpCurve (curve, { BumpShape { 0.4f * scale, 60.0f }, BumpShape { -0.3f * scale, 30.0f }, BumpShape { 0.2f * scale, 90.0f } },
                        { 150, 420, 650 });
        return curve;
    }
}
