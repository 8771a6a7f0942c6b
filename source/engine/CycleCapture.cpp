#include "CycleCapture.h"

#include <cmath>

namespace kestrine
{
    namespace
    {
        constexpr int unset = -1;
    }

    int CycleCapture::advance (float left, float right) noexcept
    {
        const float x = (left + right) * 0.5f;

        int w = ringWriteIndex;
        if (w >= ringLength || w < 0)
            w = 0;
        inputRing[static_cast<size_t> (w)] = x;
        ringWriteIndex = w + 1;

        int r = ringReadIndex;
        if (r >= ringLength || r < 0)
            r = ringReadIndex = 0;
        const int n = r == ringLength - 1 ? 0 : r + 1;

        ringReadIndex = r + 1;

        if (! (inputRing[static_cast<size_t> (r)] < 0.0f && inputRing[static_cast<size_t> (n)] > 0.0f))
            return 0;

        for (int j = 0; j < lookAhead; ++j)
            analysisWindow[static_cast<size_t> (j)] = inputRing[static_cast<size_t> ((n + j) % ringLength)];

        return analyseWindow();
    }

    int CycleCapture::analyseWindow() noexcept
    {
        const auto& s = analysisWindow;
        int first = unset, end = unset;
        float positive = 0.0f, negative = 0.0f;
        cyclePeak = 0.0f;

        for (int j = 0; j < lookAhead; ++j)
        {
            const float here = s[static_cast<size_t> (j)];

            if (j + 1 < lookAhead)
            {
                const float next = s[static_cast<size_t> (j + 1)];

                if (here < 0.0f && next > 0.0f && first != unset && end == unset
                     && std::abs ((positive - negative) / (positive + negative)) < balanceLimit)
                    end = j;

                if (here > 0.0f && next < 0.0f && first == unset && end == unset)
                    first = j;
            }

            if (here > 0.0f)
                positive = positive + here;
            else
                negative = negative - here;

            if ((end == unset || j < end) && std::abs (here) > cyclePeak)
                cyclePeak = std::abs (here);
        }

        if (positive > 0.0f && (first == unset || end == unset))
            return 0;

        const int period = end == unset ? lookAhead : end;
        return period < minimumCycle ? 0 : period;
    }

    void CycleCapture::capture (int period, const BumpCurveTable& curve) noexcept
    {
        for (int j = 0; j < ringLength; ++j)
            capturedCycle[static_cast<size_t> (j)] = j < period ? analysisWindow[static_cast<size_t> (j)] : 0.0f;

        periodLength = period;

        if (cyclePeak > 1.0f)
            cyclePeak = 1.0f;

        bumpSignal.fill (0.0f);
        stretchCurve (curve);
    }

    void CycleCapture::stretchCurve (const BumpCurveTable& curve) noexcept
    {
        const int period = periodLength;
        const float ratio = static_cast<float> (period) / static_cast<float> (curvePoints);
        int prev = 0;

        for (int l = 0; l < 2 * curvePoints; ++l)
        {
            int idx = static_cast<int> (static_cast<float> (l) * ratio);
            if (idx < 0 || idx > ringLength - 1)
                idx = 0;

            // Past the end of the curve the period starts again: the steps that still land
            // inside it take the curve's first point.
            const float point = l < curvePoints ? curve[static_cast<size_t> (l)] : curve[0];
            const float v = idx <= period ? point * cyclePeak : 0.0f;

            bumpSignal[static_cast<size_t> (idx)] = v;

            if (idx > prev + 1)
            {
                const float start = bumpSignal[static_cast<size_t> (prev)];
                const float slope = (v - start) / static_cast<float> (idx - prev);

                for (int k = prev; k <= idx; ++k)
                    bumpSignal[static_cast<size_t> (k)] = start + slope * static_cast<float> (k - prev);
            }

            prev = idx;
        }
    }
}
