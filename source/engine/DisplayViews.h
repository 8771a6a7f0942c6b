#pragma once

#include "BumpCurve.h"
#include "EngineConstants.h"

#include <array>

namespace kestrine
{
    /** The two pictures of the last captured cycle that the editor draws, always handed over
        as a pair so that both show the same capture. */
    struct DisplayViews
    {
        // One period normalised to its peak and resampled to 800 points, shaped, plus the bump curve.
        std::array<float, curvePoints> normalisedView {};
        // The first 800 samples of the cycle at their own level, shaped, plus the bump signal.
        std::array<float, curvePoints> sampleView {};
    };

    /** What the display views of a capture are made from: the cycle, its peak, the curve the
        capture took and the shaping amount at that sample. The audio thread hands this over
        once per block, for the block's last capture; the views are made from it when they are
        read. */
    struct DisplaySource
    {
        std::array<float, lookAhead> cycle {};   // the first periodLength entries
        BumpCurveTable curve {};
        int periodLength = 0;                    // 0 until the first capture: the views are then zero
        float peak = 0.0f;
        float distortion = 0.0f;
    };

    /** The views of a capture, exactly as they are defined from the captured cycle (zeros after
        it) and the curve stretched over it as the bump signal. Expects the floating-point mode
        of the audio thread (denormals flushed to zero), in which the capture was made. */
    void computeDisplayViews (const DisplaySource& source, DisplayViews& views) noexcept;
}
