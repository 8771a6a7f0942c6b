#include "CycleCapture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace kestrine
{
    namespace
    {
        // The balance test of the definition: the window's samples before a candidate crossing
        // balance when |P - N| / (P + N) < c, c = 0.1f, with P the single-precision sum of the
        // positive samples and N that of the others' magnitudes, each taken sample after sample.
        //
        // A window's S = P - N and T = P + N are differences of running sums of the samples
        // and of their magnitudes, kept in double precision, where every term is exact. At most
        // epochLength terms are added to a running sum, and no partial sum exceeds the running
        // magnitude, so each running value is off by at most 2048 x 2^-53 x (the running
        // magnitude there) < 2.3e-13 x that magnitude. The window's S and T, one or two
        // differences, are thus off by at most E = 2.3e-13 x (the running magnitudes at its
        // ends, and of the previous epoch when it spans a boundary) plus roundings far below.
        //
        // The single-precision sums add non-negative values, so each lies within
        // (j - 1) u / (1 - (j - 1) u) of the exact sum (j samples, u = 2^-24), which moves the
        // ratio by at most 1.001 j u; the subtraction, addition and division in single precision
        // add at most 3.01 u to a ratio of magnitude at most 1. So with
        //   M = T (1.001 j u + 3.02 u + 1e-15) + 2.6e-13 x (those running magnitudes),
        // (1.11 E covering both S and T) the definition's comparison comes out "balanced" when
        // |S| + M < c T and "unbalanced" when |S| - M > c T; otherwise the single-precision sums
        // are taken.
        //
        // Outside [2^-110, 2^100] T is not trusted: there single-precision overflow, or a
        // difference flushed to zero, could decide the comparison.
        constexpr double limit = static_cast<double> (balanceLimit);
        constexpr double unitRoundoff = 1.0 / 16777216.0;
        constexpr double marginPerSample = 1.001 * unitRoundoff;
        constexpr double marginOfOperations = 3.02 * unitRoundoff + 1.0e-15;
        constexpr double marginPerRunningMagnitude = 2.6e-13;
        constexpr double smallestTrusted = 7.7e-34;     // just below 2^-110
        constexpr double largestTrusted = 1.26e30;      // just below 2^100

        /** Largest of eight whole numbers. */
        std::int32_t largestOfEight (std::array<std::int32_t, 8> v) noexcept
        {
            for (size_t half = 4; half > 0; half /= 2)
                for (size_t i = 0; i < half; ++i)
                    v[i] = v[i + half] > v[i] ? v[i + half] : v[i];

            return v[0];
        }

        /** Largest magnitude of eight samples, as a whole number: magnitudes of floats (there are
            no NaNs here) compare like their bit patterns without the sign, which lets the peak
            be taken on whole numbers, in vector registers. */
        std::int32_t largestMagnitudeOfEight (const float* samples) noexcept
        {
            std::array<std::int32_t, 8> bits;
            std::memcpy (bits.data(), samples, sizeof bits);

            for (auto& b : bits)
                b &= 0x7fffffff;

            return largestOfEight (bits);
        }
    }

    void CycleCapture::startEpoch() noexcept
    {
        previousEpoch = running;
        running = {};

        // No window from now on starts at or before the sample examined now, so a falling
        // crossing there is never needed again. Clearing them once an epoch keeps at most
        // (epochLength + lookAhead) / 2 of them.
        const std::int64_t examined = written - 1 - lookAhead;

        while (falling.count() > 0 && falling.first() <= examined)
            falling.pop();
    }

    int CycleCapture::analyseNext() noexcept
    {
        const std::int64_t examined = rising.firstTime();
        const auto examinedBefore = rising.before (rising.head);
        rising.pop();

        // The window starts with the first positive sample after the crossing; no later window
        // starts earlier.
        const std::int64_t start = examined + 1;

        while (falling.count() > 0 && falling.first() < start)
            falling.pop();

        // The running sums before the window: those before the crossing's negative sample with
        // that sample added, exactly as they were kept, or nothing at the start of an epoch.
        const auto value = static_cast<double> (samples[slot (examined)]);
        const RunningSums before = (start & (epochLength - 1)) == 0
                                     ? RunningSums {}
                                     : RunningSums { examinedBefore.sum + value, examinedBefore.magnitude + std::abs (value) };

        return analyse (start, before);
    }

    int CycleCapture::analyse (std::int64_t start, const RunningSums& before) noexcept
    {
        // The period ends at the first upward crossing after the window's first falling one
        // where the samples before it balance. The falling crossings kept all lie in the window.
        if (falling.count() == 0)
            return 0;

        const std::int64_t firstFalling = falling.first();
        const int candidates = rising.count();
        int candidate = 0;

        while (candidate < candidates && rising.time (rising.slotOf (candidate)) <= firstFalling)
            ++candidate;

        if (candidate == candidates)
            return 0;

        // A window's sums are the running sums at its end less those at its start. A window
        // shorter than an epoch spans at most one epoch boundary; when it does, its end lies in
        // the current epoch and the previous one is the epoch of its start.
        const std::int64_t nextEpoch = (start | (epochLength - 1)) + 1;
        const std::array<RunningSums, 2> offsets { before, RunningSums { before.sum - previousEpoch.sum,
                                                                         before.magnitude - previousEpoch.magnitude } };
        const std::array<double, 2> magnitudesBefore { before.magnitude, before.magnitude + previousEpoch.magnitude };

        const auto sumsTo = [&offsets] (const RunningSums& after, bool across) noexcept -> RunningSums
        {
            const auto& offset = offsets[across ? 1 : 0];
            return { after.sum - offset.sum, after.magnitude - offset.magnitude };
        };

        const auto marginFor = [&magnitudesBefore] (double total, int j, const RunningSums& after, bool across) noexcept
        {
            return total * (static_cast<double> (j) * marginPerSample + marginOfOperations)
                     + marginPerRunningMagnitude * (after.magnitude + magnitudesBefore[across ? 1 : 0]);
        };

        // The single-precision sums of the definition, taken only as far as needed.
        std::int64_t summedTo = start;
        float positive = 0.0f, negative = 0.0f;

        // Decides the candidate in a slot with its own margin, or with the single-precision sums.
        const auto balancesAt = [&] (int slot) noexcept
        {
            const std::int64_t time = rising.time (slot);
            const bool across = time >= nextEpoch;
            const auto after = rising.before (slot);
            const auto window = sumsTo (after, across);

            if (window.magnitude >= smallestTrusted && window.magnitude <= largestTrusted)
            {
                const int j = static_cast<int> (time - start);
                const double margin = marginFor (window.magnitude, j, after, across);
                const double imbalance = std::abs (window.sum);
                const double balanced = limit * window.magnitude;

                if (imbalance - margin > balanced)
                    return false;

                if (imbalance + margin < balanced)
                    return true;
            }

            for (; summedTo < time; ++summedTo)
            {
                const float v = samples[CycleCapture::slot (summedTo)];

                if (v > 0.0f)
                    positive = positive + v;
                else
                    negative = negative - v;
            }

            return std::abs ((positive - negative) / (positive + negative)) < balanceLimit;
        };

        const auto periodEndingAt = [this, start] (int slot) noexcept
        {
            const int j = static_cast<int> (rising.time (slot) - start);
            return j < minimumCycle ? 0 : j;
        };

        // One margin for every candidate, from the whole window up to the newest sample (the
        // magnitudes only grow towards it), decides almost all of them at a glance. It holds
        // when every candidate's total lies where the bound holds (they grow from the first).
        const bool newestAcross = written - 1 >= nextEpoch;
        const double wholeTotal = sumsTo (running, newestAcross).magnitude;
        const int firstSlot = rising.slotOf (candidate);
        const double firstTotal = sumsTo (rising.before (firstSlot), rising.time (firstSlot) >= nextEpoch).magnitude;

        if (! (firstTotal >= smallestTrusted && wholeTotal <= largestTrusted))
        {
            for (; candidate < candidates; ++candidate)
                if (balancesAt (rising.slotOf (candidate)))
                    return periodEndingAt (rising.slotOf (candidate));

            return 0;
        }

        const double glance = marginFor (wholeTotal, lookAhead, running, newestAcross);

        // The candidates in time order, in at most two stretches of the ring; the offset
        // changes once, where they enter the next epoch.
        double offsetSum = offsets[0].sum, offsetMagnitude = offsets[0].magnitude;
        std::int64_t offsetChanges = nextEpoch;
        int slot = firstSlot;

        for (int remaining = candidates - candidate; remaining > 0;)
        {
            const int stretchEnd = slot + std::min (remaining, static_cast<int> (risingCapacity) - slot);
            remaining -= stretchEnd - slot;

            for (; slot < stretchEnd; ++slot)
            {
                const auto at = static_cast<size_t> (slot);

                if (rising.times[at] >= offsetChanges)
                {
                    offsetSum = offsets[1].sum;
                    offsetMagnitude = offsets[1].magnitude;
                    offsetChanges = std::numeric_limits<std::int64_t>::max();
                }

                const double imbalance = std::abs (rising.sums[at] - offsetSum);
                const double balanced = limit * (rising.magnitudes[at] - offsetMagnitude);

                if (imbalance > balanced + glance)
                    continue;

                if (imbalance < balanced - glance || balancesAt (slot))
                    return periodEndingAt (slot);
            }

            slot = 0;
        }

        // No balanced period ends inside the window.
        return 0;
    }

    void CycleCapture::capture (int period) noexcept
    {
        periodLength = period;
        cycleStart = written - lookAhead;
        cycleSaved = false;

        const float peak = peakOf (slot (cycleStart), period);
        cyclePeak = peak > 1.0f ? 1.0f : peak;
    }

    void CycleCapture::notePeakOfBlock (std::size_t block) noexcept
    {
        const auto peak = largestMagnitudeOfEight (samples.data() + block * peakBlock);
        blockPeaks[block] = peak;

        // The blocks at the start of the history are repeated after its end, as the samples are.
        constexpr auto repeated = static_cast<std::size_t> (lookAhead) / peakBlock;
        constexpr auto blocksInHistory = static_cast<std::size_t> (historyLength) / peakBlock;
        blockPeaks[block < repeated ? block + blocksInHistory : block] = peak;
    }

    float CycleCapture::peakOf (std::size_t first, int n) const noexcept
    {
        // n >= 11: the first and the last eight samples, which may overlap, and the blocks that
        // lie wholly in between, eight at a time (the first eight with those past the end left
        // out, so that a short cycle takes no branch that depends on its length).
        const auto end = first + static_cast<std::size_t> (n);
        std::int32_t peak = std::max (largestMagnitudeOfEight (samples.data() + first),
                                      largestMagnitudeOfEight (samples.data() + end - 8));

        auto block = (first + peakBlock - 1) / peakBlock;
        const auto blocksEnd = end / peakBlock;
        std::array<std::int32_t, 8> eight;

        for (; block + 8 <= blocksEnd; block += 8)
        {
            std::copy (blockPeaks.begin() + static_cast<std::ptrdiff_t> (block), blockPeaks.begin() + static_cast<std::ptrdiff_t> (block + 8), eight.begin());
            peak = std::max (peak, largestOfEight (eight));
        }

        // blockPeaks has eight spare entries at its end for this look.
        std::copy (blockPeaks.begin() + static_cast<std::ptrdiff_t> (block), blockPeaks.begin() + static_cast<std::ptrdiff_t> (block + 8), eight.begin());
        const auto left = static_cast<std::int32_t> (blocksEnd - block);

        for (std::int32_t i = 0; i < 8; ++i)
            eight[static_cast<size_t> (i)] = i < left ? eight[static_cast<size_t> (i)] : 0;

        peak = std::max (peak, largestOfEight (eight));

        float magnitude;
        std::memcpy (&magnitude, &peak, sizeof magnitude);
        return magnitude;
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

        const auto first = samples.begin() + static_cast<std::ptrdiff_t> (slot (cycleStart));
        std::copy (first, first + periodLength, destination);
    }

    float CycleCapture::cycleSample (int j) const noexcept
    {
        return cycleSaved ? savedCycle[static_cast<size_t> (j)] : samples[slot (cycleStart) + static_cast<size_t> (j)];
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
