#include "CycleCapture.h"

#include <algorithm>
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

        windowStart = n;
        return analyseWindow();
    }

    int CycleCapture::analyseWindow() noexcept
    {
        // The window starts with the first positive sample after the crossing. Everything the
        // result depends on (the falling crossing, the sums and the peak up to the period's end)
        // is known once the balanced rising crossing is found, so the walk stops there.
        int first = unset;
        float positive = 0.0f, negative = 0.0f;
        cyclePeak = 0.0f;

        float here = window (0);

        for (int j = 0; j < lookAhead - 1; ++j)
        {
            const float next = window (j + 1);

            if (here < 0.0f && next > 0.0f && first != unset
                 && std::abs ((positive - negative) / (positive + negative)) < balanceLimit)
                return j < minimumCycle ? 0 : j;

            if (here > 0.0f && next < 0.0f && first == unset)
                first = j;

            if (here > 0.0f)
                positive = positive + here;
            else
                negative = negative - here;

            cyclePeak = std::max (cyclePeak, std::abs (here));
            here = next;
        }

        // No balanced period ends inside the window (the last sample has no successor, so no
        // crossing can be recognised there).
        return 0;
    }

    void CycleCapture::capture (int period, const BumpCurveTable& curve) noexcept
    {
        // Only the previous cycle's entries beyond the new one need clearing: the rest is zero.
        for (int j = 0; j < period; ++j)
            capturedCycle[static_cast<size_t> (j)] = window (j);

        std::fill (capturedCycle.begin() + period, capturedCycle.begin() + std::max (period, periodLength), 0.0f);
        periodLength = period;

        if (cyclePeak > 1.0f)
            cyclePeak = 1.0f;

        stretchCurve (bumpSignal, bumpSignalEnd, curve, period, cyclePeak);
    }

    namespace
    {
        /** The entry of the 1600-step walk that step l lands on. */
        int stretchIndex (int l, float ratio) noexcept
        {
            return static_cast<int> (static_cast<float> (l) * ratio);
        }

        /** For cycles of at most 800 samples the walk advances by at most one entry per step,
            so it draws no lines and each entry keeps the value of the last step that lands on
            it. This finds that step for every entry directly instead of walking all of them. */
        int stretchShortCycle (CycleBuffer& signal, const BumpCurveTable& curve, int period, float ratio, float peak) noexcept
        {
            constexpr int steps = 2 * curvePoints;
            int next = 0;   // the first step landing beyond the entry being written

            for (int idx = 0; idx <= period; ++idx)
            {
                // Start from the estimate (idx + 1) / ratio and settle it on the exact boundary,
                // judged with the same float arithmetic as the walk.
                next = std::max (next, std::min (steps, static_cast<int> (static_cast<float> (idx + 1) / ratio)));

                while (next > 0 && stretchIndex (next - 1, ratio) > idx)
                    --next;

                while (next < steps && stretchIndex (next, ratio) <= idx)
                    ++next;

                const int l = next - 1;
                const float point = l < curvePoints ? curve[static_cast<size_t> (l)] : curve[0];
                signal[static_cast<size_t> (idx)] = point * peak;
            }

            // The first step beyond the cycle writes a zero there, and from then on only zeros follow.
            signal[static_cast<size_t> (period + 1)] = 0.0f;
            return period + 1;
        }
    }

    void stretchCurve (CycleBuffer& signal, int& writtenEnd, const BumpCurveTable& curve, int period, float peak) noexcept
    {
        const float ratio = static_cast<float> (period) / static_cast<float> (curvePoints);

        if (period <= curvePoints)
        {
            const int last = stretchShortCycle (signal, curve, period, ratio, peak);
            std::fill (signal.begin() + last + 1, signal.begin() + std::max (last + 1, writtenEnd), 0.0f);
            writtenEnd = last + 1;
            return;
        }

        int prev = 0;
        int last = 0;

        for (int l = 0; l < 2 * curvePoints; ++l)
        {
            int idx = static_cast<int> (static_cast<float> (l) * ratio);
            if (idx < 0 || idx > ringLength - 1)
                idx = 0;

            // Past the end of the curve the period starts again: the steps that still land
            // inside it take the curve's first point.
            const float point = l < curvePoints ? curve[static_cast<size_t> (l)] : curve[0];
            const float v = idx <= period ? point * peak : 0.0f;

            signal[static_cast<size_t> (idx)] = v;

            if (idx > prev + 1)
            {
                const float start = signal[static_cast<size_t> (prev)];
                const float slope = (v - start) / static_cast<float> (idx - prev);

                for (int k = prev; k <= idx; ++k)
                    signal[static_cast<size_t> (k)] = start + slope * static_cast<float> (k - prev);
            }

            prev = idx;
            last = std::max (last, idx);

            // Beyond the cycle, once an entry holds exactly 0 every later step writes only
            // zeros (lines between zeros), above this entry: the rest of the walk is the
            // clearing below.
            if (idx > period && signal[static_cast<size_t> (idx)] == 0.0f)
                break;
        }

        std::fill (signal.begin() + last + 1, signal.begin() + std::max (last + 1, writtenEnd), 0.0f);
        writtenEnd = last + 1;
    }
}
