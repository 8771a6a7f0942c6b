#include "BumpPlayback.h"

#include <algorithm>

namespace kestrine
{
    void BumpPlayback::start (const BumpCurveTable& newCurve, int newPeriod, float newPeak) noexcept
    {
        curve = &newCurve;
        period = newPeriod;
        peak = newPeak;
        ratio = static_cast<float> (period) / static_cast<float> (curvePoints);
        stepsPerEntry = 1.0f / ratio;
        nextStep = 0;

        step = 0;
        from = 0;
        to = -1;
        line = false;
        valueAtFrom = valueAtTo = 0.0f;   // the walk starts on a cleared signal
    }

    float BumpPlayback::entry (int k) noexcept
    {
        return period <= curvePoints ? shortCycleEntry (k) : longCycleEntry (k);
    }

    float BumpPlayback::shortCycleEntry (int k) noexcept
    {
        // Start from the estimate (k + 1) / ratio of the first step beyond entry k and settle it
        // on the exact boundary, judged with the same float arithmetic as the walk.
        nextStep = std::max (nextStep, std::min (steps, static_cast<int> (static_cast<float> (k + 1) * stepsPerEntry)));

        while (nextStep > 0 && stepIndex (nextStep - 1) > k)
            --nextStep;

        while (nextStep < steps && stepIndex (nextStep) <= k)
            ++nextStep;

        return point (nextStep - 1) * peak;
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

    float BumpPlayback::longCycleEntry (int k) noexcept
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
}
