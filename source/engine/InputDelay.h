#pragma once

#include "EngineConstants.h"

#include <algorithm>
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
        /** Keeps n samples (at most lookAhead) of each channel; right is null for a single
            channel. */
        void store (const float* left, const float* right, int n) noexcept
        {
            copyIn (delayedLeft, left, n);
            if (right != nullptr)
                copyIn (delayedRight, right, n);
        }

        /** Overwrites n samples of each channel with the samples kept lookAhead samples
            before the ones store() has just kept. */
        void read (float* left, float* right, int n) noexcept
        {
            copyOut (delayedLeft, left, n);
            if (right != nullptr)
                copyOut (delayedRight, right, n);
        }

        /** Moves on by n samples after store() (and read(), if it was called). */
        void advance (int n) noexcept
        {
            writeIndex = wrapped (writeIndex + n);
            readIndex = wrapped (readIndex + n);
        }

    private:
        using Line = std::array<float, ringLength>;

        static int wrapped (int index) noexcept    { return index >= ringLength ? index - ringLength : index; }

        // The line wraps around at most once within lookAhead samples: two stretches at most.
        void copyIn (Line& line, const float* source, int n) const noexcept
        {
            const int head = std::min (n, ringLength - writeIndex);
            std::copy (source, source + head, line.begin() + writeIndex);
            std::copy (source + head, source + n, line.begin());
        }

        void copyOut (const Line& line, float* destination, int n) const noexcept
        {
            const int head = std::min (n, ringLength - readIndex);
            std::copy (line.begin() + readIndex, line.begin() + readIndex + head, destination);
            std::copy (line.begin(), line.begin() + (n - head), destination + head);
        }

        Line delayedLeft {};
        Line delayedRight {};
        int writeIndex = lookAhead;
        int readIndex = 0;   // always lookAhead positions behind the write index
    };
}
