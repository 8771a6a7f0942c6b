#pragma once

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
}
