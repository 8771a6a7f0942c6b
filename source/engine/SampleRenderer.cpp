#include "SampleRenderer.h"

namespace kestrine
{
    void SampleRenderer::keepCapturedCurve() noexcept
    {
        if (capturedCurve == nullptr || capturedCurve == &keptCurve)
            return;

        keptCurve = *capturedCurve;
        capturedCurve = &keptCurve;
        playback.useCurve (keptCurve);
    }

    void SampleRenderer::describeLastCapture (DisplaySource& source) const noexcept
    {
        source.periodLength = capture.periodLength;
        source.peak = capture.cyclePeak;
        source.distortion = capturedDistortion;

        if (capture.periodLength == 0 || capturedCurve == nullptr)
            return;

        capture.copyCycle (source.cycle.data());
        source.curve = *capturedCurve;
    }

    void computeDisplayViews (const DisplaySource& source, DisplayViews& views) noexcept
    {
        const int period = source.periodLength;

        if (period <= 0)
        {
            views = {};
            return;
        }

        // The captured cycle with zeros after it, and its bump signal.
        CycleBuffer cycle {};
        std::copy (source.cycle.begin(), source.cycle.begin() + period, cycle.begin());

        CycleBuffer bumpSignal {};
        stretchCurve (bumpSignal, source.curve, period, source.peak);

        const float d = source.distortion;
        const float ratio = static_cast<float> (period) / static_cast<float> (curvePoints);

        for (int p = 0; p < curvePoints; ++p)
        {
            const auto point = static_cast<size_t> (p);
            const float pos = static_cast<float> (p) * ratio;
            const int k = static_cast<int> (pos);
            const float frac = pos - static_cast<float> (k);
            const auto at = static_cast<size_t> (k);
            const float y = ((cycle[at + 1] - cycle[at]) * frac + cycle[at]) / source.peak;

            views.normalisedView[point] = shape (y, d) + source.curve[point];
            views.sampleView[point] = shape (cycle[point], d) + bumpSignal[point];
        }
    }
}
