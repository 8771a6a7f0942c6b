#include "CycleCapture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrine
{
    namespace
    {
        // The balance test, |P - N| / (P + N) < 0.1, decided from the running sums.
        //
        // The running sums add at most epochLength non-negative values in double precision,
        // so each carries a relative error below 2.3e-13; a window's sums P_d and N_d, one or
        // two differences of them, are off by less than 2.3e-13 times the sum of the running
        // values used (the "magnitude"). With D = P_d + N_d that moves the ratio by at most
        // 2 x 2.3e-13 x magnitude / D (since |P - N| <= P + N).
        //
        // The single-precision sums that the definition takes sample after sample are sums of
        // non-negative values, each within (j - 1) u / (1 - (j - 1) u) of the exact sum, j the
        // number of samples and u = 2^-24; that moves the ratio by at most 1.001 j u. The
        // subtraction, addition and division in single precision add at most 3.01 u of
        // relative error to a ratio that is at most 1 in magnitude.
        //
        // So with margin = D (1.001 j u + 3.02 u + 1e-15) + 5e-13 x magnitude, the comparison
        // of the definition comes out "balanced" when |P_d - N_d| + margin < 0.1 D and
        // "unbalanced" when |P_d - N_d| - margin > 0.1 D; otherwise it is decided by the
        // single-precision sums themselves. Outside [2^-110, 2^100] (or for non-finite sums)
        // D is not trusted either: there single-precision overflow, or results flushed to
        // zero, could decide the comparison.
        constexpr double unitRoundoff = 1.0 / 16777216.0;
        constexpr double marginPerSample = 1.001 * unitRoundoff;
        constexpr double marginOfOperations = 3.02 * unitRoundoff + 1.0e-15;
        constexpr double marginPerMagnitude = 5.0e-13;
        constexpr double smallestTrusted = 7.7e-34;     // just below 2^-110
        constexpr double largestTrusted = 1.26e30;      // just below 2^100
        constexpr double limit = static_cast<double> (balanceLimit);

        enum class Balance { balanced, unbalanced, open };

        /** Largest magnitude of n samples (0 for none). Magnitudes of floats compare like their
            bit patterns without the sign, which keeps the loop simple enough to vectorise. */
        std::uint32_t largestMagnitudeBits (const float* samples, int n) noexcept
        {
            std::uint32_t largest = 0;

            for (int i = 0; i < n; ++i)
            {
                std::uint32_t bits;
                std::memcpy (&bits, samples + i, sizeof bits);
                bits &= 0x7fffffffu;
                largest = bits > largest ? bits : largest;
            }

            return largest;
        }
    }

    int CycleCapture::advance (float left, float right) noexcept
    {
        const float x = (left + right) * 0.5f;
        const std::int64_t now = written;
        const auto here = slot (now);

        samples[here] = x;

        if ((now & (epochLength - 1)) == 0)
        {
            previousEpoch = running;
            running = {};
        }

        sumsBefore[here] = running;
        const auto value = static_cast<double> (x);
        running.positive += x > 0.0f ? value : 0.0;
        running.negative += x > 0.0f ? 0.0 : -value;

        if (last < 0.0f && x > 0.0f)
            rising.push (now - 1);
        else if (last > 0.0f && x < 0.0f)
            falling.push (now - 1);

        last = x;
        written = now + 1;

        // The sample examined now is lookAhead samples old; it starts a window when an upward
        // crossing follows it. No later window starts at or before it, so a falling crossing
        // there is never needed again (this also bounds the falling crossings kept).
        const std::int64_t examined = now - lookAhead;

        while (falling.count > 0 && falling.at (0) <= examined)
            falling.pop();

        if (rising.count == 0 || rising.at (0) != examined)
            return 0;

        rising.pop();
        return analyse (examined + 1);
    }

    CycleCapture::Sums CycleCapture::windowSums (std::int64_t start, std::int64_t end, double& magnitude) const noexcept
    {
        const auto& before = sumsBefore[slot (start)];
        const auto& after = sumsBefore[slot (end)];
        magnitude = before.positive + before.negative + after.positive + after.negative;

        if ((start / epochLength) == (end / epochLength))
            return { after.positive - before.positive, after.negative - before.negative };

        // The window spans one epoch boundary (it is shorter than an epoch), and end lies in
        // the current epoch: the previous one is the epoch of start.
        magnitude += previousEpoch.positive + previousEpoch.negative;
        return { (previousEpoch.positive - before.positive) + after.positive,
                 (previousEpoch.negative - before.negative) + after.negative };
    }

    int CycleCapture::analyse (std::int64_t start) noexcept
    {
        // The window starts with the first positive sample after the crossing. Its period ends
        // at the first upward crossing after its first falling one where the samples before
        // it balance. The falling crossings kept all lie in the window.
        if (falling.count == 0)
            return 0;

        const std::int64_t firstFalling = falling.at (0);

        // The single-precision sums of the definition, taken only as far as needed.
        std::int64_t summedTo = start;
        float positive = 0.0f, negative = 0.0f;

        for (int i = 0; i < rising.count; ++i)
        {
            const std::int64_t crossing = rising.at (i);

            if (crossing <= firstFalling)
                continue;

            const int j = static_cast<int> (crossing - start);
            double magnitude = 0.0;
            const auto sums = windowSums (start, crossing, magnitude);
            const double total = sums.positive + sums.negative;
            auto balance = Balance::open;

            if (total >= smallestTrusted && total <= largestTrusted)
            {
                const double imbalance = std::abs (sums.positive - sums.negative);
                const double margin = total * (static_cast<double> (j) * marginPerSample + marginOfOperations)
                                        + marginPerMagnitude * magnitude;

                if (imbalance + margin < limit * total)
                    balance = Balance::balanced;
                else if (imbalance - margin > limit * total)
                    balance = Balance::unbalanced;
            }

            if (balance == Balance::open)
            {
                for (; summedTo < crossing; ++summedTo)
                {
                    const float v = samples[slot (summedTo)];

                    if (v > 0.0f)
                        positive = positive + v;
                    else
                        negative = negative - v;
                }

                balance = std::abs ((positive - negative) / (positive + negative)) < balanceLimit ? Balance::balanced
                                                                                                 : Balance::unbalanced;
            }

            if (balance == Balance::balanced)
                return j < minimumCycle ? 0 : j;
        }

        // No balanced period ends inside the window.
        return 0;
    }

    void CycleCapture::capture (int period) noexcept
    {
        periodLength = period;
        cycleStart = written - lookAhead;
        cycleSaved = false;

        // The cycle may wrap around the end of the history: at most two stretches.
        const auto first = slot (cycleStart);
        const int head = std::min (period, historyLength - static_cast<int> (first));
        const auto largest = std::max (largestMagnitudeBits (samples.data() + first, head),
                                       largestMagnitudeBits (samples.data(), period - head));
        float peak;
        std::memcpy (&peak, &largest, sizeof peak);

        cyclePeak = peak > 1.0f ? 1.0f : peak;
    }

    void CycleCapture::keepCycleFor (int n) noexcept
    {
        if (cycleSaved || periodLength == 0 || written + n <= cycleStart + historyLength)
            return;

        copyCycle (savedCycle.data());
        cycleSaved = true;
    }

    void CycleCapture::copyCycle (float* destination) const noexcept
    {
        if (cycleSaved)
        {
            std::copy (savedCycle.begin(), savedCycle.begin() + periodLength, destination);
            return;
        }

        const auto first = slot (cycleStart);
        const int head = std::min (periodLength, historyLength - static_cast<int> (first));
        std::copy (samples.begin() + static_cast<std::ptrdiff_t> (first), samples.begin() + static_cast<std::ptrdiff_t> (first) + head, destination);
        std::copy (samples.begin(), samples.begin() + (periodLength - head), destination + head);
    }

    float CycleCapture::cycleSample (int j) const noexcept
    {
        return cycleSaved ? savedCycle[static_cast<size_t> (j)] : samples[slot (cycleStart + j)];
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
