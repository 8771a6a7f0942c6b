#pragma once

#include "BumpCurve.h"
#include "BumpPlayback.h"
#include "CycleCapture.h"
#include "DisplayViews.h"
#include "EngineConstants.h"
#include "Shaping.h"

#include <algorithm>
#include <array>
#include <atomic>

namespace kestrine
{
    /** The per-sample output path: cycle capture, bump playback, shaping, the 1600-sample
        delay and the dry/wet mix. Audio thread only.

        The Mirrors type gives the smoothed amounts `distortion` and `dryWet` (atomic `current`
        and `target`) and `currentBumpCurve()`, the newest complete bump curve, which must stay
        unchanged while a block is rendered. */
    class SampleRenderer
    {
    public:
        /** Renders a block in place. right is null for a single channel, which is then
            processed once, through delayLeft. Returns true when a cycle was captured. */
        template <typename Mirrors>
        bool process (float* left, float* right, int numSamples, Mirrors& mirrors) noexcept
        {
            bool captured = false;

            // In pieces of at most lookAhead samples, within one epoch of the capture: its
            // analyses then find all they need once a piece is written, and a cycle captured in
            // one piece is still in its history at the piece's end (it is copied out only when the
            // next piece would overwrite it).
            for (int start = 0; start < numSamples;)
            {
                const int n = std::min ({ lookAhead, numSamples - start, capture.samplesLeftInEpoch() });
                capture.keepCycleFor (n);
                captured = processPiece (left + start, right != nullptr ? right + start : nullptr, n, mirrors) || captured;
                start += n;
            }

            // The last capture's curve goes on being read after the block, and what the mirrors
            // hand out may change once it is over: the engine keeps a copy.
            if (captured)
                keepCapturedCurve();

            return captured;
        }

        /** Renders a block as above and, when display is not null and a cycle was captured in
            it, fills the views there from the last capture of the block, as the editor sees
            them. Returns true when the views were filled. */
        template <typename Mirrors>
        bool process (float* left, float* right, int numSamples, Mirrors& mirrors, DisplayViews* display) noexcept
        {
            if (! process (left, right, numSamples, mirrors) || display == nullptr)
                return false;

            DisplaySource source;
            describeLastCapture (source);
            computeDisplayViews (source, *display);
            return true;
        }

        /** Everything the display views of the last capture are made from. */
        void describeLastCapture (DisplaySource& source) const noexcept;

        CycleCapture capture;

        std::array<float, ringLength> delayLeft {};    // shaped input
        std::array<float, ringLength> delayRight {};
        int delayWriteIndex = lookAhead;
        int delayReadIndex = 0;                        // always lookAhead positions behind the write index

        int bumpPlayIndex = 0;                         // next entry of the bump signal to play
        bool bumpPlaying = false;

    private:
        template <typename Mirrors>
        bool processPiece (float* left, float* right, int numSamples, Mirrors& mirrors) noexcept
        {
            // First the analysis stage takes in the whole piece; then each sample is rendered,
            // and where a window ends (the sample lookAhead after an upward crossing) it is
            // analysed first, seeing only the samples up to that one.
            const std::int64_t firstTime = capture.samplesWritten();
            capture.write (left, right, numSamples);

            const auto windowEndIndex = [&]
            {
                const std::int64_t time = capture.nextWindowEnd();
                return time >= firstTime && time < firstTime + numSamples ? static_cast<int> (time - firstTime) : numSamples;
            };

            int windowEnd = windowEndIndex();
            bool captured = false;

            for (int i = 0; i < numSamples; ++i)
            {
                // Non-finite samples are silence by now (see CycleCapture::write).
                const float inLeft = left[i];
                const float inRight = right != nullptr ? right[i] : inLeft;

                if (i == windowEnd)
                {
                    const int period = capture.analyseAt (firstTime + i);
                    windowEnd = windowEndIndex();

                    if (period > 0)
                    {
                        const auto& curve = mirrors.currentBumpCurve();
                        capture.capture (period);
                        playback.start (curve, period, capture.cyclePeak);
                        capturedCurve = &curve;
                        capturedDistortion = mirrors.distortion.current.load();
                        captured = true;

                        bumpPlaying = true;
                        bumpPlayIndex = 0;
                    }
                }

                float q = 0.0f;

                if (bumpPlaying)
                {
                    q = playback.entry (bumpPlayIndex) * playbackLevel;
                    if (++bumpPlayIndex >= capture.periodLength)
                        bumpPlaying = false;
                }

                const float d = smoothedStep (mirrors.distortion.current.load(), mirrors.distortion.target.load());
                mirrors.distortion.current.store (d);

                const auto write = static_cast<size_t> (delayWriteIndex);
                const auto read = static_cast<size_t> (delayReadIndex);

                delayLeft[write] = shape (inLeft, d);
                const float wetLeft = delayLeft[read] + q;

                const float m = smoothedStep (mirrors.dryWet.current.load(), mirrors.dryWet.target.load());
                mirrors.dryWet.current.store (m);

                left[i] = m * wetLeft + inLeft * (1.0f - m);

                if (right != nullptr)
                {
                    delayRight[write] = shape (inRight, d);
                    const float wetRight = q + delayRight[read];
                    right[i] = m * wetRight + inRight * (1.0f - m);
                }

                delayReadIndex = delayReadIndex >= ringLength - 1 ? 0 : delayReadIndex + 1;
                delayWriteIndex = delayWriteIndex >= ringLength - 1 ? 0 : delayWriteIndex + 1;
            }

            return captured;
        }

        void keepCapturedCurve() noexcept;

        BumpPlayback playback;
        const BumpCurveTable* capturedCurve = nullptr;   // the curve the last capture took
        BumpCurveTable keptCurve {};                      // a copy of it once its block is over
        float capturedDistortion = 0.0f;                  // distortion.current at the last capture
    };
}
