#pragma once

// The engine's algorithm written out plainly, one step after another, with no shortcuts:
// the whole window is copied before it is analysed, the analysis runs to the end of the
// window, the bump signal is cleared completely and the stretch walks all 1600 steps, and
// the display views are refreshed at every capture. The tests run it beside the engine and
// demand identical results.

#include "engine/BumpCurve.h"
#include "engine/DisplayViews.h"
#include "engine/EngineConstants.h"

#include <array>
#include <cmath>

namespace kestrine::reference
{
    /** Clears the bump signal and stretches the curve, scaled by peak, over W samples. */
    inline void stretch (std::array<float, ringLength>& bumpSignal, const BumpCurveTable& curve, int W, float peak)
    {
        for (auto& v : bumpSignal)
            v = 0.0f;

        const float ratio = (float) W / 800.0f;
        int prev = 0;

        for (int l = 0; l < 1600; ++l)
        {
            int idx = (int) ((float) l * ratio);
            if (idx < 0 || idx > 3199)
                idx = 0;

            const float point = l < 800 ? curve[(size_t) l] : curve[0];
            const float v = idx <= W ? point * peak : 0.0f;
            bumpSignal[(size_t) idx] = v;

            if (idx > prev + 1)
            {
                const float start = bumpSignal[(size_t) prev];
                const float slope = (v - start) / (float) (idx - prev);
                for (int k = prev; k <= idx; ++k)
                    bumpSignal[(size_t) k] = start + slope * (float) (k - prev);
            }

            prev = idx;
        }
    }

    class Engine
    {
    public:
        float distortionCurrent = 0.0f, distortionTarget = 0.0f;
        float dryWetCurrent = 1.0f, dryWetTarget = 1.0f;
        BumpCurveTable curve {};

        std::array<float, ringLength> inputRing {};
        int ringWriteIndex = lookAhead, ringReadIndex = 0;
        std::array<float, lookAhead> analysisWindow {};
        std::array<float, ringLength> capturedCycle {};
        int periodLength = 0;
        float cyclePeak = 0.0f;
        std::array<float, ringLength> bumpSignal {};
        std::array<float, ringLength> delayLeft {}, delayRight {};
        int delayWriteIndex = lookAhead, delayReadIndex = 0;
        bool bumpPlaying = false;
        int bumpPlayIndex = 0;
        DisplayViews views;
        int captures = 0;

        static float shape (float v, float d)
        {
            return ((d * (shapeThreshold - std::abs (v) / shapeThreshold)) * 1.1f + 1.0f) * v;
        }

        void process (float* left, float* right, int numSamples)
        {
            for (int i = 0; i < numSamples; ++i)
            {
                const float inRight = right != nullptr ? right[i] : left[i];
                captureStep (left[i], inRight);

                float q = 0.0f;
                if (bumpPlaying)
                {
                    q = bumpSignal[(size_t) bumpPlayIndex] * 0.5f;
                    bumpPlayIndex += 1;
                    if (bumpPlayIndex >= periodLength)
                        bumpPlaying = false;
                }

                const float dryL = left[i];
                const float dryR = inRight;

                distortionCurrent = (distortionTarget - distortionCurrent) * 0.001f + distortionCurrent;
                const float d = distortionCurrent;

                delayLeft[(size_t) delayWriteIndex] = shape (left[i], d);
                if (right != nullptr)
                    delayRight[(size_t) delayWriteIndex] = shape (right[i], d);

                left[i] = delayLeft[(size_t) delayReadIndex] + q;
                if (right != nullptr)
                    right[i] = q + delayRight[(size_t) delayReadIndex];

                dryWetCurrent = (dryWetTarget - dryWetCurrent) * 0.001f + dryWetCurrent;
                const float m = dryWetCurrent;

                left[i] = m * left[i] + dryL * (1.0f - m);
                if (right != nullptr)
                    right[i] = m * right[i] + dryR * (1.0f - m);

                delayReadIndex = delayReadIndex >= 3199 ? 0 : delayReadIndex + 1;
                delayWriteIndex = delayWriteIndex >= 3199 ? 0 : delayWriteIndex + 1;
            }
        }

    private:
        void captureStep (float left, float right)
        {
            const float x = (left + right) * 0.5f;

            int w = ringWriteIndex;
            if (w >= 3200 || w < 0)
                w = 0;
            inputRing[(size_t) w] = x;
            ringWriteIndex = w + 1;

            int r = ringReadIndex;
            if (r >= 3200 || r < 0)
            {
                ringReadIndex = 0;
                r = 0;
            }
            const int n = r == 3199 ? 0 : r + 1;

            if (! (inputRing[(size_t) r] < 0.0f && inputRing[(size_t) n] > 0.0f))
            {
                ringReadIndex = r + 1;
                return;
            }

            for (int j = 0; j < 1600; ++j)
                analysisWindow[(size_t) j] = inputRing[(size_t) ((n + j) % 3200)];

            const int period = analyse();
            if (period > 0)
                capture (period);

            ringReadIndex = r + 1;
        }

        int analyse()
        {
            const auto& s = analysisWindow;
            int F = -1, E = -1;
            float P = 0.0f, N = 0.0f;
            cyclePeak = 0.0f;

            for (int j = 0; j < 1600; ++j)
            {
                const auto at = (size_t) j;
                if (j < 1599 && s[at] < 0.0f && s[at + 1] > 0.0f && F >= 0 && E < 0)
                    if (std::abs ((P - N) / (P + N)) < 0.1f)
                        E = j;

                if (j < 1599 && s[at] > 0.0f && s[at + 1] < 0.0f && F < 0 && E < 0)
                    F = j;

                if (s[at] > 0.0f)
                    P = P + s[at];
                else
                    N = N - s[at];

                if ((E < 0 || j < E) && std::abs (s[at]) > cyclePeak)
                    cyclePeak = std::abs (s[at]);
            }

            if (P > 0.0f && (F < 0 || E < 0))
                return 0;

            const int end = E < 0 ? 1600 : E;
            return end < 11 ? 0 : end;
        }

        void capture (int W)
        {
            for (int j = 0; j < 3200; ++j)
                capturedCycle[(size_t) j] = j < W ? analysisWindow[(size_t) j] : 0.0f;

            periodLength = W;

            if (cyclePeak > 1.0f)
                cyclePeak = 1.0f;

            stretch (bumpSignal, curve, W, cyclePeak);

            refreshDisplay();
            bumpPlaying = true;
            bumpPlayIndex = 0;
            ++captures;
        }

        void refreshDisplay()
        {
            // d is the amount before this sample's smoothing step.
            const float d = distortionCurrent;
            const float ratio = (float) periodLength / 800.0f;

            for (int p = 0; p < 800; ++p)
            {
                const float pos = (float) p * ratio;
                const int k = (int) pos;
                const float frac = pos - (float) k;
                const float y = ((capturedCycle[(size_t) k + 1] - capturedCycle[(size_t) k]) * frac + capturedCycle[(size_t) k]) / cyclePeak;
                views.normalisedView[(size_t) p] = shape (y, d) + curve[(size_t) p];
                views.sampleView[(size_t) p] = shape (capturedCycle[(size_t) p], d) + bumpSignal[(size_t) p];
            }
        }
    };
}
