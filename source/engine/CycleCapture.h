#pragma once

#include "BumpCurve.h"
#include "EngineConstants.h"
#include "Shaping.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace kestrine
{
    using CycleBuffer = std::array<float, ringLength>;

    /** Lays the curve, scaled by peak, over a cycle of W samples: the curve's 800 points are
        spread over the cycle, gaps are filled by straight lines, the walk continues past the
        end of the curve with its first point while it still lands inside the cycle, and
        everything beyond is zero. signal must be all zeros on entry. The result is exactly
        that of the full 1600-step walk. */
    void stretchCurve (CycleBuffer& signal, const BumpCurveTable& curve, int period, float peak) noexcept;

    /** The analysis stage: keeps the mono sum of the input, watches the sample 1600 samples
        behind the newest one for an upward zero crossing, finds where the period that starts
        there ends, and captures it.

        What the analysis needs is kept as the samples arrive, so that it never rescans the
        window: the upward and the falling crossings in order, and per sample two running sums
        in double precision (restarted every 2048 samples) from which the balance of any window
        follows by two subtractions. A period ends at the first upward crossing after the first
        falling one where |P - N| / (P + N) < 0.1, with P and N the single-precision sums taken
        sample after sample from the window's start. The running sums decide that comparison
        within a proven bound (see CycleCapture.cpp); where the bound leaves it open, the
        single-precision sums are taken sample after sample as the definition says, so the
        result is always exactly that of the definition. Audio thread only. */
    class CycleCapture
    {
    public:
        /** Writes the mono sums of n input samples; right is null for a single channel. A
            non-finite sample (NaN, infinity) is replaced by silence where it stands: it would
            otherwise poison every sum and mix it meets. n is at most lookAhead, and the samples
            do not run into a new epoch (see samplesLeftInEpoch): everything the analyses of
            these samples' windows need is then at hand (see analyseAt). */
        void write (float* left, float* right, int n) noexcept;

        /** How many samples can be written before the next epoch starts. */
        int samplesLeftInEpoch() const noexcept
        {
            return epochLength - static_cast<int> (written & (epochLength - 1));
        }

        /** The samples written so far: the time of the next one. */
        std::int64_t samplesWritten() const noexcept    { return written; }

        /** The time of the next sample written whose window starts after an upward crossing,
            or -1 while none is known. */
        std::int64_t nextWindowEnd() const noexcept
        {
            return rising.count() > 0 ? rising.firstTime() + lookAhead : -1;
        }

        /** Examines the window that ends at sample time (nextWindowEnd(), among the samples of
            the last write): the 1600 samples after the upward crossing at time - lookAhead.
            Returns the length of the period that starts there, or 0 when no period is found. */
        int analyseAt (std::int64_t time) noexcept;

        /** Captures the period that analyseAt() has just found: remembers where the cycle lies
            and measures its peak, limited to 1. */
        void capture (int period) noexcept;

        /** Makes sure that the last captured cycle survives the next n samples (at most
            historyLength - lookAhead): it is copied out of the history only when those
            samples would overwrite it. */
        void keepCycleFor (int n) noexcept;

        /** Copies the last captured cycle (periodLength samples) to destination. */
        void copyCycle (float* destination) const noexcept;

        /** Sample j of the last captured cycle, 0 <= j < periodLength. */
        float cycleSample (int j) const noexcept;

        int periodLength = 0;       // 11 to 1598 once a cycle was captured
        float cyclePeak = 0.0f;     // at most 1 after a capture

        /** Samples kept in the history: the 1600-sample window and a captured cycle that
            stays readable for at least another lookAhead samples. */
        static constexpr int historyLength = 4096;

        /** The history notes the largest magnitude of each block of this many samples, so that
            the peak of a long cycle takes one look per block. */
        static constexpr std::size_t peakBlock = 8;

        /** Crossings that can be pending at once (one place stays free): at most one every two
            samples, for the upward ones within the 1600-sample window and the samples written
            ahead of it, for the falling ones within the epoch since they were last cleared and
            the window. */
        static constexpr std::size_t risingCapacity = 2048;
        static constexpr std::size_t fallingCapacity = 2048;

        /** The running sums start again every epochLength samples (at least the window),
            which keeps their magnitude, and so their rounding, bounded. */
        static constexpr int epochLength = 2048;

    private:
        /** Sums of samples and of their magnitudes: P - N and P + N, with P the sum of the
            positive samples and N that of the others' magnitudes. */
        struct RunningSums
        {
            double sum = 0.0;
            double magnitude = 0.0;
        };

        /** Upward crossings in the order they occur, a ring of fixed capacity: the time of each
            one's last negative sample and the running sums (of that sample's epoch) before it,
            in arrays of their own so that the candidates of a window are scanned in a tight loop. */
        struct UpwardCrossings
        {
            static constexpr int mask = static_cast<int> (risingCapacity) - 1;

            int count() const noexcept                      { return (end - head) & mask; }
            std::int64_t firstTime() const noexcept         { return times[static_cast<size_t> (head)]; }
            std::int64_t time (int slot) const noexcept     { return times[static_cast<size_t> (slot)]; }
            RunningSums before (int slot) const noexcept
            {
                return { sums[static_cast<size_t> (slot)], magnitudes[static_cast<size_t> (slot)] };
            }

            void pop() noexcept                             { head = (head + 1) & mask; }

            std::array<std::int64_t, risingCapacity> times {};
            std::array<double, risingCapacity> sums {};
            std::array<double, risingCapacity> magnitudes {};
            int head = 0;
            int end = 0;   // the first free place; the queue is empty when it equals head
        };

        /** Falling crossings in the order they occur: the times of their last positive samples,
            a ring of fixed capacity. */
        struct FallingCrossings
        {
            static constexpr int mask = static_cast<int> (fallingCapacity) - 1;

            int count() const noexcept                  { return (end - head) & mask; }
            std::int64_t first() const noexcept         { return times[static_cast<size_t> (head)]; }
            void pop() noexcept                         { head = (head + 1) & mask; }

            std::array<std::int64_t, fallingCapacity> times {};
            int head = 0;
            int end = 0;   // the first free place; the queue is empty when it equals head
        };

        static constexpr std::int32_t signBit = std::numeric_limits<std::int32_t>::min();

        static std::int32_t bitsOf (float x) noexcept
        {
            std::int32_t bits;
            std::memcpy (&bits, &x, sizeof bits);
            return bits;
        }

        static size_t slot (std::int64_t time) noexcept    { return static_cast<size_t> (time & (historyLength - 1)); }

        void startEpoch (std::int64_t now) noexcept;
        void notePeakOfBlock (std::size_t block) noexcept;
        float peakOf (std::size_t first, int n) const noexcept;

        int analyse (std::int64_t start, std::int64_t end, const RunningSums& before) noexcept;

        std::array<float, historyLength + lookAhead> samples {};   // mono input by time, its start repeated at the end
        std::array<std::int32_t, (historyLength + lookAhead) / peakBlock + 8> blockPeaks {};   // largest magnitude of each block, as bits
        RunningSums running {};                           // running sums of the current epoch
        RunningSums previousEpoch {};                     // sums of the whole epoch before the current one
        UpwardCrossings rising {};
        FallingCrossings falling {};
        std::int64_t written = 0;                         // samples written; the time of the next one
        std::int32_t lastPositive = 0, lastNegative = 0;  // the sign of the sample written last (silent at first)

        std::int64_t windowStart = 0;                     // time of the first sample of the window analysed last
        std::int64_t cycleStart = 0;                      // time of the first sample of the last captured cycle
        bool cycleSaved = false;                          // the cycle lives in savedCycle, not in the history
        std::array<float, lookAhead> savedCycle {};
    };
}
