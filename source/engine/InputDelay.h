#pragma once

#include "EngineConstants.h"

#include <array>
#include <cstddef>

namespace kestrine
{
    /** The untouched input delayed by the reported latency: what a bypassed block plays. It
        runs through every block, processed or bypassed, so that switching the bypass never
        shifts the output in time. Audio thread only. */
    class InputDelay
    {
    public:
        /** Stores n samples of each channel and overwrites them with the samples from lookAhead
            samples earlier. right is null for a single channel. */
        void exchange (float* left, float* right, int n) noexcept
        {
            for (int i = 0; i < n; ++i)
            {
                const auto write = static_cast<std::size_t> (writeIndex);
                const auto read = static_cast<std::size_t> (readIndex);

                delayedLeft[write] = left[i];
                left[i] = delayedLeft[read];

                if (right != nullptr)
                {
                    delayedRight[write] = right[i];
                    right[i] = delayedRight[read];
                }

                readIndex = readIndex >= ringLength - 1 ? 0 : readIndex + 1;
                writeIndex = writeIndex >= ringLength - 1 ? 0 : writeIndex + 1;
            }
        }

    private:
        std::array<float, ringLength> delayedLeft {};
        std::array<float, ringLength> delayedRight {};
        int writeIndex = lookAhead;
        int readIndex = 0;   // always lookAhead positions behind the write index
    };
}
