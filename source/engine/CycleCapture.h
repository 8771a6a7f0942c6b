#pragma once

#include "BumpCurve.h"
#include "EngineConstants.h"

#include <array>
#include <cstddef>

namespace kestrine
{
    using CycleBuffer = std::array<float, ringLength>;

    /** Lays the curve, scaled by peak, over a cycle of W samples: the curve's 800 points are
        spread over the cycle, gaps are filled by straight lines, the walk continues past the
        end of the curve with its first point while it still lands inside the cycle, and
        everything beyond is zero. signal must hold the result of the previous call, whose
        extent writtenEnd records (entries from writtenEnd on are zero); only entries below
        the larger of the two extents are touched. The result is exactly that of the full
        1600-step walk over a cleared signal. */
    void stretchCurve (CycleBuffer& signal, int& writtenEnd, const BumpCurveTable& curve, int period, float peak) noexcept;

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
        int windowStart = 0;                           // ring index of the first sample after the last crossing
        CycleBuffer capturedCycle {};                  // the cycle in its first periodLength entries, zeros after
        int periodLength = 0;                          // 11 to 1598 once a cycle was captured
        float cyclePeak = 0.0f;                        // at most 1 after a capture
        CycleBuffer bumpSignal {};
        int bumpSignalEnd = 0;                         // entries from here on are zero

    private:
        /** Sample j of the 1600-sample window after the crossing, read in place from the ring. */
        float window (int j) const noexcept
        {
            const int at = windowStart + j;
            return inputRing[static_cast<std::size_t> (at < ringLength ? at : at - ringLength)];
        }

        int analyseWindow() noexcept;
    };
}
