#include "SampleRenderer.h"

namespace kestrine
{
    void refreshDisplayViews (DisplayViews& views, const CycleCapture& capture,
                              const BumpCurveTable& curve, float d) noexcept
    {
        const auto& cycle = capture.capturedCycle;
        const float ratio = static_cast<float> (capture.periodLength) / static_cast<float> (curvePoints);

        for (int p = 0; p < curvePoints; ++p)
        {
            const auto point = static_cast<size_t> (p);
            const float pos = static_cast<float> (p) * ratio;
            const int k = static_cast<int> (pos);
            const float frac = pos - static_cast<float> (k);
            const auto at = static_cast<size_t> (k);
            const float y = ((cycle[at + 1] - cycle[at]) * frac + cycle[at]) / capture.cyclePeak;

            views.normalisedView[point] = shape (y, d) + curve[point];
            views.sampleView[point] = shape (cycle[point], d) + capture.bumpSignal[point];
        }
    }
}
