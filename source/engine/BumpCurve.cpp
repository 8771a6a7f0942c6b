#include "BumpCurve.h"

#include <cmath>

namespace kestrine
{
    void addBump (BumpCurveTable& curve, float amplitude, int width, int centre) noexcept
    {
        const int r = centre < 0 ? 0 : centre;
        const int m = r > curvePoints ? curvePoints : r;

        if (! (width <= r && r <= curvePoints - width))
            return;   // does not fit inside the period

        // A width of 0 cannot get here with a drawable span: its loop below is empty.
        if (width <= 0)
            return;

        const float half = amplitude * 0.5f;
        const float step = (1.0f / static_cast<float> (width)) * curvePi;

        for (int i = m - width; i < m + width; ++i)
            curve[static_cast<size_t> (i)] += (std::cos (static_cast<float> (i - m) * step) + 1.0f) * half;
    }

    void buildBumpCurve (BumpCurveTable& curve,
                         const std::array<BumpShape, numBumps>& shapes,
                         const std::array<int, numBumps>& centres) noexcept
    {
        curve.fill (0.0f);

        for (size_t k = 0; k < shapes.size(); ++k)
            addBump (curve, shapes[k].amplitude, static_cast<int> (shapes[k].width), centres[k]);
    }

    int driftedCentre (int centre, float speed) noexcept
    {
        const int p = static_cast<int> (speed * driftPerCall + static_cast<float> (centre));

        if (p >= curvePoints)
            return 0;

        if (p < 0)
            return curvePoints;

        return p;
    }
}
