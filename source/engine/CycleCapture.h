#pragma once

#include "BumpCurve.h"
#include "EngineConstants.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrine
{
    using CycleBuffer = std::array<float, ringLength>;

    /** Lays the curve, scaled by peak, over a cycle of W samples: the curve's 800 points are
        spread over the cycle, gaps are filled by straight lines, the walk continues past the
        end of the curve with its first point while it still lands inside the cycle, and
        everything beyond is zero. signal must hold the result of the previous call, whose
        extent writtenEnd records (entries from writtenEnd on are zero); only entries below
        the larger of the two extents are touched. The result is exactly that of the full
        1600-step walk over a cleared signal. */
    void stretchCurve (CycleBuffer& signal, int& writtenEnd, const BumpCurveTable& curve, int period, float peak) noexcept;

    /** The analysis stage: keeps the mono sum of the input, watches the sample 1600 samples
        behind the newest one for an upward zero crossing, finds where the period that starts
        there ends, and captures it.

        What the analysis needs is kept as the samples arrive, so that it never rescans the
        window: the upward and the falling crossings in order, and per sample the running sums
        of the positive samples and of the magnitudes of the others (in double precision,
        restarted every 2048 samples). A period ends at the first upward crossing after the
        first falling one where |P - N| / (P + N) < 0.1, with P and N the single-precision
        sums taken sample after sample from the window's start. The running sums give P and N
        to within a proven bound (see CycleCapture.cpp); when it leaves the comparison open,
        the single-precision sums are taken sample after sample as the definition says, so
        the result is always exactly that of the definition. Audio thread only. */
    class CycleCapture
    {
    public:
        /** Writes the mono sum of one input sample and examines the sample 1600 samples back.
            Returns the length of the period that starts there, or 0 when no period is found. */
        int advance (float left, float right) noexcept;

        /** Captures the period that advance() has just found: remembers where the cycle lies
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

        /** Crossings that can be pending at once: at most one upward (or falling) crossing
            every two samples within the 1600-sample window. */
        static constexpr int crossingCapacity = 1024;

        /** The running sums start again every epochLength samples (at least the window),
            which keeps their magnitude, and so their rounding, bounded. */
        static constexpr int epochLength = 2048;

    private:
        struct Sums
        {
            double positive = 0.0;   // sum of the positive samples
            double negative = 0.0;   // sum of the magnitudes of the other samples
        };

        /** Crossing times in the order they occur: a ring of fixed capacity. */
        struct CrossingQueue
        {
            std::array<std::int64_t, crossingCapacity> times {};
            int head = 0;
            int count = 0;

            std::int64_t at (int i) const noexcept    { return times[static_cast<size_t> ((head + i) & (crossingCapacity - 1))]; }
            void push (std::int64_t time) noexcept
            {
                times[static_cast<size_t> ((head + count) & (crossingCapacity - 1))] = time;
                ++count;
            }
            void pop() noexcept
            {
                head = (head + 1) & (crossingCapacity - 1);
                --count;
            }
        };

        static size_t slot (std::int64_t time) noexcept    { return static_cast<size_t> (time & (historyLength - 1)); }

        int analyse (std::int64_t start) noexcept;

        /** The sums over samples start to end - 1 (end - start < lookAhead), with the sum of
            the running values they were taken from, which bounds their rounding. */
        Sums windowSums (std::int64_t start, std::int64_t end, double& magnitude) const noexcept;

        std::array<float, historyLength> samples {};      // mono input by time
        std::array<Sums, historyLength> sumsBefore {};    // running sums of the epoch before each sample
        Sums running {};                                  // running sums of the current epoch
        Sums previousEpoch {};                            // totals of the epoch before the current one
        CrossingQueue rising {};                          // times of the last negative sample before an upward crossing
        CrossingQueue falling {};                         // times of the last positive sample before a falling crossing
        std::int64_t written = 0;                         // samples written; the time of the next one
        float last = 0.0f;                                // the sample written last (the ring starts silent)

        std::int64_t cycleStart = 0;                      // time of the first sample of the last captured cycle
        bool cycleSaved = false;                          // the cycle lives in savedCycle, not in the history
        std::array<float, lookAhead> savedCycle {};
    };
}
