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

    void CycleCapture::write (float* left, float* right, int n) noexcept
    {
        if (n <= 0)
            return;

        if ((written & (epochLength - 1)) == 0)
            startEpoch (written);

        // First, in loops simple enough to vectorise: silence for non-finite samples, and the mono
        // sums into the history (a piece wraps around its end at most once).
        const auto sanitise = [n] (float* channel) noexcept
        {
            for (int i = 0; i < n; ++i)
                channel[i] = finiteOrSilence (channel[i]);
        };

        sanitise (left);
        if (right != nullptr)
            sanitise (right);

        const float* const second = right != nullptr ? right : left;
        const std::int64_t first = written;
        const auto from = slot (first);
        const int beforeWrap = static_cast<int> (std::min (static_cast<size_t> (n), static_cast<size_t> (historyLength) - from));

        for (int i = 0; i < beforeWrap; ++i)
            samples[from + static_cast<size_t> (i)] = (left[i] + second[i]) * 0.5f;

        for (int i = beforeWrap; i < n; ++i)
            samples[static_cast<size_t> (i - beforeWrap)] = (left[i] + second[i]) * 0.5f;

        // Then the crossings and the running sums, sample after sample. The state of the loop
        // lives in locals, which the compiler keeps in registers.
        std::int64_t now = first;
        double sum = running.sum, magnitude = running.magnitude;
        std::int32_t wasPositive = lastPositive, wasNegative = lastNegative;
        int risingEnd = rising.end, fallingEnd = falling.end;

        for (int i = 0; i < n; ++i, ++now)
        {
            const float x = samples[slot (now)];

            // Without branches: on noise, crossings come and go at random. Every sample is put
            // in the next free place of both queues as the possible start of a crossing, which
            // the next sample keeps when it completes one. An upward crossing keeps the running
            // sums before its negative sample, where a period ending there ends. The signs are
            // read from the bit patterns (x is never a denormal here, and never NaN), which
            // compiles to plain integer comparisons.
            const auto positive = static_cast<std::int32_t> (bitsOf (x) > 0);
            const auto negative = static_cast<std::int32_t> ((bitsOf (x) ^ signBit) > 0);

            risingEnd = (risingEnd + (wasNegative & positive)) & UpwardCrossings::mask;
            fallingEnd = (fallingEnd + (wasPositive & negative)) & FallingCrossings::mask;
            wasPositive = positive;
            wasNegative = negative;

            const auto at = static_cast<size_t> (risingEnd);
            rising.times[at] = now;
            rising.sums[at] = sum;
            rising.magnitudes[at] = magnitude;
            falling.times[static_cast<size_t> (fallingEnd)] = now;

            // Exact terms in double precision.
            const auto value = static_cast<double> (x);
            sum += value;
            magnitude += std::abs (value);
        }

        written = now;
        running = { sum, magnitude };
        lastPositive = wasPositive;
        lastNegative = wasNegative;
        rising.end = risingEnd;
        falling.end = fallingEnd;

        // The first lookAhead samples of the history are kept once more after its end, so that
        // every window and cycle lies in one piece.
        const auto headEnd = std::min (from + static_cast<size_t> (n), static_cast<size_t> (historyLength));

        if (from < static_cast<size_t> (lookAhead))
            std::copy (samples.begin() + static_cast<std::ptrdiff_t> (from),
                       samples.begin() + static_cast<std::ptrdiff_t> (std::min (headEnd, static_cast<size_t> (lookAhead))),
                       samples.begin() + static_cast<std::ptrdiff_t> (from + historyLength));

        if (from + static_cast<size_t> (n) > static_cast<size_t> (historyLength))
            std::copy (samples.begin(), samples.begin() + static_cast<std::ptrdiff_t> (from + static_cast<size_t> (n) - historyLength),
                       samples.begin() + historyLength);

        // Each block of peakBlock samples completed by the piece notes its largest magnitude.
        for (auto block = static_cast<std::uint64_t> (first) / peakBlock;
             (block + 1) * peakBlock <= static_cast<std::uint64_t> (now); ++block)
            notePeakOfBlock (static_cast<size_t> (block % (historyLength / peakBlock)));
    }

    void CycleCapture::startEpoch (std::int64_t now) noexcept
    {
        previousEpoch = running;
        running = {};

        // No window from now on starts at or before the sample examined now, so a falling
        // crossing there is never needed again. Clearing them once an epoch keeps at most
        // (epochLength + lookAhead) / 2 of them.
        const std::int64_t examined = now - lookAhead;

        while (falling.count() > 0 && falling.first() <= examined)
            falling.pop();
    }

    int CycleCapture::analyseAt (std::int64_t time) noexcept
    {
        const std::int64_t examined = rising.firstTime();
        const auto examinedBefore = rising.before (rising.head);
        rising.pop();

        // The window starts with the first positive sample after the crossing; no later window
        // starts earlier.
        const std::int64_t start = examined + 1;
        windowStart = start;

        while (falling.count() > 0 && falling.first() < start)
            falling.pop();

        // The running sums before the window: those before the crossing's negative sample with
        // that sample added, exactly as they were kept, or nothing at the start of an epoch.
        const auto value = static_cast<double> (samples[slot (examined)]);
        const RunningSums before = (start & (epochLength - 1)) == 0
                                     ? RunningSums {}
                                     : RunningSums { examinedBefore.sum + value, examinedBefore.magnitude + std::abs (value) };

        return analyse (start, time, before);
    }

    int CycleCapture::analyse (std::int64_t start, std::int64_t end, const RunningSums& before) noexcept
    {
        // The period ends at the first upward crossing after the window's first falling one
        // where the samples before it balance. The falling crossings kept all lie at or after the
        // window's start; those from the window's end on have not happened yet for it, and
        // neither have such upward crossings.
        if (falling.count() == 0 || falling.first() >= end)
            return 0;

        const std::int64_t firstFalling = falling.first();
        const auto next = [] (int slot) noexcept { return (slot + 1) & UpwardCrossings::mask; };
        int firstSlot = rising.head;

        while (firstSlot != rising.end && rising.time (firstSlot) <= firstFalling)
            firstSlot = next (firstSlot);

        if (firstSlot == rising.end || rising.time (firstSlot) >= end)
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

        // One margin for every candidate, from the whole window up to the newest sample written
        // (the magnitudes only grow towards it, and it lies in the epoch of the window's end),
        // decides almost all of them at a glance. It holds when every candidate's total lies
        // where the bound holds (they grow from the first).
        const bool newestAcross = written - 1 >= nextEpoch;
        const double wholeTotal = sumsTo (running, newestAcross).magnitude;
        const double firstTotal = sumsTo (rising.before (firstSlot), rising.time (firstSlot) >= nextEpoch).magnitude;

        if (! (firstTotal >= smallestTrusted && wholeTotal <= largestTrusted))
        {
            for (int slot = firstSlot; slot != rising.end && rising.time (slot) < end; slot = next (slot))
                if (balancesAt (slot))
                    return periodEndingAt (slot);

            return 0;
        }

        const double glance = marginFor (wholeTotal, lookAhead, running, newestAcross);
        int slot = firstSlot;

        // The candidates in time order, first those in the epoch of the window's start, then
        // those in the next one; in stretches that do not wrap around the ring, two at a time
        // while both are plainly unbalanced.
        for (const bool across : { false, true })
        {
            const double offsetSum = offsets[across ? 1 : 0].sum;
            const double offsetMagnitude = offsets[across ? 1 : 0].magnitude;
            const std::int64_t until = across ? end : std::min (end, nextEpoch);

            const auto unbalancedAtAGlance = [&] (size_t at) noexcept
            {
                return std::abs (rising.sums[at] - offsetSum) > limit * (rising.magnitudes[at] - offsetMagnitude) + glance;
            };

            while (slot != rising.end)
            {
                const int stretchEnd = rising.end > slot ? rising.end : static_cast<int> (risingCapacity);

                for (; slot + 1 < stretchEnd; slot += 2)
                {
                    const auto at = static_cast<size_t> (slot);

                    if (rising.times[at + 1] >= until
                         || (static_cast<int> (unbalancedAtAGlance (at)) & static_cast<int> (unbalancedAtAGlance (at + 1))) == 0)
                        break;
                }

                for (; slot < stretchEnd; ++slot)
                {
                    const auto at = static_cast<size_t> (slot);

                    if (rising.times[at] >= until)
                        break;

                    const double imbalance = std::abs (rising.sums[at] - offsetSum);
                    const double balanced = limit * (rising.magnitudes[at] - offsetMagnitude);

                    if (imbalance > balanced + glance)
                        continue;

                    if (imbalance < balanced - glance || balancesAt (slot))
                        return periodEndingAt (slot);
                }

                if (slot < stretchEnd)
                    break;   // the epoch or the window ends here

                slot &= UpwardCrossings::mask;
            }
        }

        // No balanced period ends inside the window.
        return 0;
    }

    void CycleCapture::capture (int period) noexcept
    {
        periodLength = period;
        cycleStart = windowStart;
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

    void stretchCurve (CycleBuffer& signal, const BumpCurveTable& curve, int period, float peak) noexcept
    {
        const float ratio = static_cast<float> (period) / static_cast<float> (curvePoints);
        int prev = 0;

        for (int l = 0; l < 2 * curvePoints; ++l)
        {
            int idx = stretchIndex (l, ratio);
            if (idx < 0 || idx > ringLength - 1)
                idx = 0;

            const float v = idx <= period ? stretchPoint (curve, l) * peak : 0.0f;

            signal[static_cast<size_t> (idx)] = v;

            if (idx > prev + 1)
            {
                const float start = signal[static_cast<size_t> (prev)];
                const float slope = (v - start) / static_cast<float> (idx - prev);

                for (int k = prev; k <= idx; ++k)
                    signal[static_cast<size_t> (k)] = start + slope * static_cast<float> (k - prev);
            }

            prev = idx;

            // Beyond the cycle, once an entry holds exactly 0 every later step writes only
            // zeros (lines between zeros) over a signal that is zero there already. A cycle of
            // at most 800 samples draws no lines (a step advances by at most one entry), so
            // its walk ends at entry W + 1.
            if (idx > period && signal[static_cast<size_t> (idx)] == 0.0f)
                break;
        }
    }
}
