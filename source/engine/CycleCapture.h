#pragma once

#include "BumpCurve.h"
#include "EngineConstants.h"

#include <array>

namespace kestrine
{
    /** The analysis stage: keeps a mono copy of the input in a ring, watches the position
        1600 samples behind the newest sample for an upward zero crossing, finds where the
        period that starts there ends, and captures it with the bump curve stretched over it.
        Audio thread only. */
    class CycleCapture
    {
    public:
        /** Writes the mono sum of one input sample into the ring and examines the position
            1600 samples back. Returns the length of the period that starts there, or 0 when
            no period is found. */
        int advance (float left, float right) noexcept;

        /** Captures the period that advance() has just found: copies the cycle, limits its
            peak and stretches the curve, scaled by the peak, over it as the bump signal. */
        void capture (int period, const BumpCurveTable& curve) noexcept;

        std::array<float, ringLength> inputRing {};
        int ringWriteIndex = lookAhead;
        int ringReadIndex = 0;                         // always lookAhead positions behind the write position
        std::array<float, lookAhead> analysisWindow {};
        std::array<float, ringLength> capturedCycle {};
        int periodLength = 0;                          // 11 to 1598 once a cycle was captured
        float cyclePeak = 0.0f;                        // at most 1 after a capture
        std::array<float, ringLength> bumpSignal {};

    private:
        int analyseWindow() noexcept;
        void stretchCurve (const BumpCurveTable& curve) noexcept;
    };
}
