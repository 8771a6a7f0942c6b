#include "BumpPlayback.h"

#include <array>
#include <cstdint>

namespace kestrine
{
    namespace
    {
        /** 800 / W for every cycle length W up to 800 (0 for none). */
        constexpr auto stridesOfShortCycles = []
        {
            std::array<std::uint8_t, curvePoints + 1> strides {};
            for (int w = 1; w <= curvePoints; ++w)
                strides[static_cast<size_t> (w)] = static_cast<std::uint8_t> (curvePoints / w);
            return strides;
        }();
    }

    void BumpPlayback::start (const BumpCurveTable& newCurve, int newPeriod, float newPeak) noexcept
    {
        curve = &newCurve;
        period = newPeriod;
        peak = newPeak;
        ratio = static_cast<float> (period) / static_cast<float> (curvePoints);
        if (period <= curvePoints)
        {
            // A table instead of a division: a capture can come every few samples.
            stride = stridesOfShortCycles[static_cast<size_t> (period)];
            strideRemainder = curvePoints - stride * period;
        }

        quotient = 0;
        remainder = 0;

        step = 0;
        from = 0;
        to = -1;
        line = false;
        valueAtFrom = valueAtTo = 0.0f;   // the walk starts on a cleared signal
    }

    void BumpPlayback::takeStep() noexcept
    {
        int idx = stepIndex (step);
        if (idx < 0 || idx > ringLength - 1)
            idx = 0;

        const float v = idx <= period ? point (step) * peak : 0.0f;
        const int prev = to < 0 ? 0 : to;

        valueAtFrom = valueAtTo;
        from = prev;
        line = idx > prev + 1;

        if (line)
        {
            // The walk writes v at idx, then joins the value left at prev to it by a line that
            // rewrites both ends.
            lineStart = valueAtFrom;
            lineSlope = (v - lineStart) / static_cast<float> (idx - prev);
            valueAtTo = lineStart + lineSlope * static_cast<float> (idx - prev);
        }
        else
        {
            valueAtTo = v;
        }

        to = idx;
        ++step;
    }
}
