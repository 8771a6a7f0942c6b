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

        The curve must stay unchanged while the entries are taken. Audio thread only. */
    class BumpPlayback
    {
    public:
        /** Starts the signal of curve x peak stretched over a cycle of period samples. */
        void start (const BumpCurveTable& curve, int period, float peak) noexcept;

        /** Entry k of the signal; k is one more than at the previous call, or 0 after start. */
        float entry (int k) noexcept;

    private:
        static constexpr int steps = 2 * curvePoints;   // the stretch walks this many curve steps

        /** The entry of the signal that step l of the walk lands on. */
        int stepIndex (int l) const noexcept    { return static_cast<int> (static_cast<float> (l) * ratio); }

        /** The curve point that step l takes: past the end of the curve, the period starts again. */
        float point (int l) const noexcept
        {
            return (*curve)[static_cast<std::size_t> (l < curvePoints ? l : 0)];
        }

        float shortCycleEntry (int k) noexcept;
        float longCycleEntry (int k) noexcept;
        void takeStep() noexcept;

        const BumpCurveTable* curve = nullptr;
        int period = 0;
        float peak = 0.0f;
        float ratio = 0.0f;             // period / 800

        // Cycles of at most 800 samples: the walk advances by at most one entry per step, so an
        // entry holds the value of the last step landing on it. nextStep is the first step
        // landing beyond the entry asked for last.
        float stepsPerEntry = 0.0f;
        int nextStep = 0;

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
