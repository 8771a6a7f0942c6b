#pragma once

#include "BumpCurve.h"
#include "EngineConstants.h"

#include <cstddef>

namespace kestrine
{
    /** The bump signal of one capture, computed entry by entry as it is played instead of
        stretched whole at the capture: most captures are replaced by the next one long before
        their signal has played out. Each entry is exactly what the stretch (see stretchCurve)
        leaves there. Entries must be asked for in order, 0, 1, 2, ..., below the period.

        The curve must stay unchanged while the entries are taken (see useCurve). Audio thread
        only. */
    class BumpPlayback
    {
    public:
        /** Starts the signal of curve x peak stretched over a cycle of period samples. */
        void start (const BumpCurveTable& curve, int period, float peak) noexcept;

        /** Goes on with a copy of the curve it started with (the same values, kept elsewhere). */
        void useCurve (const BumpCurveTable& sameCurve) noexcept    { curve = &sameCurve; }

        /** Entry k of the signal; k is one more than at the previous call, or 0 after start. */
        float entry (int k) noexcept
        {
            return period <= curvePoints ? shortCycleEntry (k) : longCycleEntry (k);
        }

    private:
        static constexpr int steps = 2 * curvePoints;   // the stretch walks this many curve steps

        /** The entry of the signal that step l of the walk lands on. */
        int stepIndex (int l) const noexcept    { return stretchIndex (l, ratio); }

        /** The curve point that step l takes. */
        float point (int l) const noexcept      { return stretchPoint (*curve, l); }

        float shortCycleEntry (int k) noexcept
        {
            // The first step beyond entry k is, in exact arithmetic, l = ceil (800 (k + 1) / W),
            // kept as quotient and remainder from one entry to the next. The walk's float
            // product l x ratio is within 2e-4 of l W / 800, which lies at least 1/800 from any
            // whole number unless it is one; only then can the float product fall short of it,
            // and one step of the walk's own arithmetic tells. No branches: a new capture (on
            // noise, every few samples) changes the pattern.
            remainder += strideRemainder;
            const auto carry = static_cast<int> (remainder >= period);
            remainder -= carry * period;
            quotient += stride + carry;

            const bool shortOfIt = (remainder != 0) | (stepIndex (quotient) <= k);
            return point (quotient + static_cast<int> (shortOfIt) - 1) * peak;
        }

        float longCycleEntry (int k) noexcept
        {
            // An entry is final once a step has landed beyond it: later steps write only at or
            // beyond that step's entry. The first such step may still rewrite entry k with its line.
            while (to <= k && step < steps)
                takeStep();

            if (line && k >= from && k <= to)
                return lineStart + lineSlope * static_cast<float> (k - from);

            if (k == to)
                return valueAtTo;

            return k == from ? valueAtFrom : 0.0f;
        }

        void takeStep() noexcept;

        const BumpCurveTable* curve = nullptr;
        int period = 0;
        float peak = 0.0f;
        float ratio = 0.0f;             // period / 800

        // Cycles of at most 800 samples: the walk advances by at most one entry per step, so an
        // entry holds the value of the last step landing on it. 800 (k + 1) = quotient x period
        // + remainder for the entry k asked for last (800 k before the first); 800 = stride x
        // period + strideRemainder.
        int stride = 0, strideRemainder = 0;
        int quotient = 0, remainder = 0;

        // Longer cycles: the walk itself, one step at a time, each step landing beyond the
        // previous one and joining the two by a straight line when they are not neighbours.
        // Kept: the last step's reach (from, to], whether it drew a line and the line, and the
        // values at its ends.
        int step = 0;
        int from = 0, to = -1;
        bool line = false;
        float lineStart = 0.0f, lineSlope = 0.0f;
        float valueAtFrom = 0.0f, valueAtTo = 0.0f;
    };
}
