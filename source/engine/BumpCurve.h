#pragma once

#include "EngineConstants.h"

#include <array>
#include <cstddef>

namespace kestrine
{
    using BumpCurveTable = std::array<float, curvePoints>;

    /** The entry of the cycle that step l of the stretch lands on; ratio is the cycle length / 800. */
    inline int stretchIndex (int l, float ratio) noexcept
    {
        return static_cast<int> (static_cast<float> (l) * ratio);
    }

    /** The curve point that step l of the stretch takes: past the end of the curve the period
        starts again, so the steps that still land inside it take the curve's first point. */
    inline float stretchPoint (const BumpCurveTable& curve, int l) noexcept
    {
        return curve[static_cast<std::size_t> (l < curvePoints ? l : 0)];
    }

    /** The settings of one bump that the curve is built from. */
    struct BumpShape
    {
        float amplitude = 0.0f;   // peak height, -0.5 to 0.5
        float width = 0.0f;       // half the span in curve points, 5 to 100
    };

    /** Rebuilds the curve as the sum of three raised-cosine bumps at the given centres.
        A bump is drawn only where it fits wholly inside the period. */
    void buildBumpCurve (BumpCurveTable& curve,
                         const std::array<BumpShape, numBumps>& shapes,
                         const std::array<int, numBumps>& centres) noexcept;

    /** Adds one bump of amplitude a and integer half-width w at centre r. */
    void addBump (BumpCurveTable& curve, float amplitude, int width, int centre) noexcept;

    /** One drift step of a bump centre: moves it by speed x 10 points, truncated towards zero,
        wrapping 800 and beyond to 0 and negative centres to 800. */
    int driftedCentre (int centre, float speed) noexcept;
}
