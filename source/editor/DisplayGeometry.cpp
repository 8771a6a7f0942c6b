#include "DisplayGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrine
{
    int truncateToInt (float value) noexcept
    {
        constexpr float lowest = static_cast<float> (std::numeric_limits<int>::min());
        constexpr float highest = 2147483520.0f;   // largest float below 2^31

        if (std::isnan (value))
            return 0;

        return static_cast<int> (std::clamp (value, lowest, highest));
    }

    int waveformHeight (float value) noexcept
    {
        return std::clamp (truncateToInt (value * static_cast<float> (pixelsPerUnit)),
                           -maximumTraceHeight, maximumTraceHeight);
    }

    float curveHeight (float value) noexcept
    {
        constexpr float limit = static_cast<float> (maximumTraceHeight);
        const float height = value * static_cast<float> (pixelsPerUnit);
        return std::isnan (height) ? 0.0f : std::clamp (height, -limit, limit);
    }

    BumpSpan placeDisplayBump (int position, int halfWidth) noexcept
    {
        BumpSpan span { position - halfWidth, position, 0 };

        if (span.start <= 0)
        {
            span.start = 1;
            span.centre = halfWidth;
        }

        if (span.centre + halfWidth >= curvePoints + 1)
        {
            span.start = curvePoints - 2 * halfWidth;
            span.end = curvePoints;
            span.centre = curvePoints - halfWidth;
        }
        else
        {
            span.end = span.centre + halfWidth;
        }

        return span;
    }

    void buildDisplayCurve (DisplayCurve& curve, const std::array<DisplayBump, numBumps>& bumps) noexcept
    {
        curve.fill (0.0f);

        for (const auto& bump : bumps)
        {
            const int halfWidth = truncateToInt (bump.width);
            const auto span = placeDisplayBump (truncateToInt (bump.position), halfWidth);

            // The parameter ranges keep the span inside the points; the bounds only matter for
            // half-widths beyond 400.
            const int first = std::max (span.start, 0);
            const int last = std::min (span.end, curvePoints);

            if (first >= last)
                continue;

            const float step = (1.0f / static_cast<float> (halfWidth)) * curvePi;
            const float half = bump.amplitude * 0.5f;

            for (int i = first; i < last; ++i)
                curve[static_cast<size_t> (i)] = (std::cos (static_cast<float> (i - span.centre) * step) + 1.0f) * half;
        }
    }
}
