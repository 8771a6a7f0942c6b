#include "HandleLayout.h"

#include "DisplayGeometry.h"

#include <cstddef>

namespace kestrine
{
    float handlePosition (float originX, int offsetX, int dragX) noexcept
    {
        return originX + static_cast<float> (offsetX + dragX);
    }

    float handleAmplitude (float originY, int offsetY, int dragY) noexcept
    {
        return (static_cast<float> (offsetY + dragY) - originY) * handleAmplitudePerPixel;
    }

    int handleLeft (int editorWidth, float originX, int offsetX, int dragX) noexcept
    {
        return editorWidth / 2 - handleLeftInset + truncateToInt (handlePosition (originX, offsetX, dragX));
    }

    int handleTop (float originY, int offsetY, int dragY) noexcept
    {
        return handleRestTop + truncateToInt (static_cast<float> (offsetY + dragY) - originY);
    }

    std::array<int, 2> handleXLimits (int index, const std::array<BumpReading, numBumps>& bumps, int editorWidth) noexcept
    {
        const auto [p1, w1] = bumps[0];
        const auto [p2, w2] = bumps[1];
        const auto [p3, w3] = bumps[2];

        switch (index)
        {
            case 0:  return { editorWidth / 2 - handleLeftInset + w1, p2 - w2 - w1 + handleLimitMargin };
            case 1:  return { p1 + w1 + w2 + handleLimitMargin, p3 - w2 - w3 + handleLimitMargin };
            default: return { p2 + w2 + w3 + handleLimitMargin, handleRightmostLimit - w3 };
        }
    }

    bool bumpsOverlap (const std::array<BumpReading, numBumps>& bumps) noexcept
    {
        return bumps[0].position + bumps[0].width > bumps[1].position - bumps[1].width
            || bumps[1].position + bumps[1].width > bumps[2].position - bumps[2].width;
    }

    namespace
    {
        // One pixel towards the inside of the limits, as set at the previous pass.
        void pushRightIfBelow (HandleState& h) noexcept    { if (h.left < h.minX) ++h.offsetX; h.moved = true; }
        void pushLeftIfAbove (HandleState& h) noexcept     { if (h.left > h.maxX) --h.offsetX; h.moved = true; }

        void pushApart (std::array<HandleState, numBumps>& handles, const HandlePassContext& context) noexcept
        {
            auto& [h1, h2, h3] = handles;

            if (context.bumps[0].position < overlapPushThreshold || context.widthKnobIndex == 1)
            {
                pushRightIfBelow (h1);
                pushRightIfBelow (h2);
                pushRightIfBelow (h3);
            }

            if (context.widthKnobIndex == 2)
            {
                // Both tests on the same edge; the limits can cross.
                if (h2.left < h2.minX) ++h2.offsetX;
                if (h2.left > h2.maxX) --h2.offsetX;
                h2.moved = true;
                pushLeftIfAbove (h1);
                pushRightIfBelow (h3);
            }

            if (context.bumps[2].position > overlapPushThreshold || context.widthKnobIndex == 3)
            {
                pushLeftIfAbove (h3);
                pushLeftIfAbove (h2);
                pushLeftIfAbove (h1);
            }
        }
    }

    namespace
    {
        void setLimits (HandleState& h, int index, const HandlePassContext& context) noexcept
        {
            const auto [minX, maxX] = handleXLimits (index, context.bumps, context.editorWidth);
            h.minX = minX;
            h.maxX = maxX;
            h.minY = handleTopLimit;
            h.maxY = handleBottomLimit;
        }

        void place (HandleState& h, const HandleOrigin& origin, int editorWidth) noexcept
        {
            h.left = handleLeft (editorWidth, origin.x, h.offsetX, h.dragX);
            h.top = handleTop (origin.y, h.offsetY, h.dragY);
        }
    }

    void placeHandles (std::array<HandleState, numBumps>& handles, const HandlePassContext& context) noexcept
    {
        for (std::size_t i = 0; i < handles.size(); ++i)
        {
            setLimits (handles[i], static_cast<int> (i), context);
            place (handles[i], context.origins[i], context.editorWidth);
        }
    }

    std::array<HandleWrite, numBumps> runHandlePass (std::array<HandleState, numBumps>& handles,
                                                      HandlePassContext& context) noexcept
    {
        for (auto& h : handles)
            h.draggable = context.ticksWithoutData < idleTicksLimit;

        for (std::size_t i = 0; i < handles.size(); ++i)
            if (handles[i].dragging)
                context.widthKnobIndex = static_cast<int> (i) + 1;

        if (bumpsOverlap (context.bumps))
            pushApart (handles, context);

        std::array<HandleWrite, numBumps> writes {};
        const std::size_t lastIndex = handles.size() - 1;

        for (std::size_t i = 0; i < handles.size(); ++i)
        {
            auto& h = handles[i];
            const auto& origin = context.origins[i];

            if (h.moved)
            {
                writes[i] = { true, handlePosition (origin.x, h.offsetX, h.dragX),
                                    handleAmplitude (origin.y, h.offsetY, h.dragY) };
                h.moved = false;
            }

            setLimits (h, static_cast<int> (i), context);

            // The outer handles creep back inside; these nudges write nothing by themselves.
            if (i == 0 && h.left < h.minX)
                ++h.offsetX;

            if (i == lastIndex && h.left > h.maxX)
                --h.offsetX;

            place (h, origin, context.editorWidth);
        }

        for (std::size_t i = 0; i < handles.size(); ++i)
            if (handles[i].dragging)
                context.selectedHandle = static_cast<int> (i) + 1;

        for (auto& h : handles)
            h.selectedId = context.selectedHandle;

        return writes;
    }
}
