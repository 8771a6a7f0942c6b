#pragma once

#include "BumpCurve.h"
#include "CycleCapture.h"
#include "DisplayViews.h"
#include "EngineConstants.h"
#include "Shaping.h"

#include <array>
#include <atomic>

namespace kestrine
{
    /** Fills both display views from the last capture, with d the shaping amount at it. */
    void refreshDisplayViews (DisplayViews& views, const CycleCapture& capture,
                              const BumpCurveTable& curve, float d) noexcept;

    /** The per-sample output path: cycle capture, bump playback, shaping, the 1600-sample
        delay and the dry/wet mix. Audio thread only.

        The Mirrors type gives the smoothed amounts `distortion` and `dryWet` (atomic `current`
        and `target`) and `currentBumpCurve()`, the newest complete bump curve. */
    class SampleRenderer
    {
    public:
        /** Renders one block in place. right is null for a single channel, which is then
            processed once, through delayLeft. When display is not null the views are
            refreshed there at each capture. Returns true when the views were refreshed. */
        template <typename Mirrors>
        bool process (float* left, float* right, int numSamples, Mirrors& mirrors, DisplayViews* display) noexcept
        {
            bool refreshed = false;

            for (int i = 0; i < numSamples; ++i)
            {
                // A non-finite sample (NaN, infinity) enters as silence: it would otherwise stay
                // in the ring and the delay lines and poison every sum and mix it meets.
                const float inLeft = finiteOrSilence (left[i]);
                const float inRight = right != nullptr ? finiteOrSilence (right[i]) : inLeft;

                const int period = capture.advance (inLeft, inRight);

                if (period > 0)
                {
                    const auto& curve = mirrors.currentBumpCurve();
                    capture.capture (period, curve);

                    if (display != nullptr)
                    {
                        refreshDisplayViews (*display, capture, curve, mirrors.distortion.current.load());
                        refreshed = true;
                    }

                    bumpPlaying = true;
                    bumpPlayIndex = 0;
                }

                float q = 0.0f;

                if (bumpPlaying)
                {
                    q = capture.bumpSignal[static_cast<size_t> (bumpPlayIndex)] * playbackLevel;
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

            return refreshed;
        }

        CycleCapture capture;

        std::array<float, ringLength> delayLeft {};    // shaped input
        std::array<float, ringLength> delayRight {};
        int delayWriteIndex = lookAhead;
        int delayReadIndex = 0;                        // always lookAhead positions behind the write index

        bool bumpPlaying = false;
        int bumpPlayIndex = 0;                         // next entry of the bump signal to play
    };
}
