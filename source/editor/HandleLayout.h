#pragma once

#include "engine/EngineConstants.h"

#include <array>

// The arithmetic of the three bump handles: how a drag is held inside its limits, which values a
// handle stands for, and the pass that the editor runs on every repaint to push overlapping bumps
// apart, renew the limits and place the handles. No framework calls: the editor copies its
// handles' fields in and out.
namespace kestrine
{
    constexpr int handleDiameter = 14;
    constexpr int handleTopLimit = 173;          // top edge at amplitude +0.5
    constexpr int handleBottomLimit = 373;       // top edge at amplitude -0.5
    constexpr int handleRestTop = 273;           // top edge at amplitude 0
    constexpr int handleLeftInset = 406;         // W/2 - 406 is the left edge at position 0
    constexpr int handleLimitMargin = 15;
    constexpr int handleRightmostLimit = 815;    // largest left edge of handle 3, less its width
    constexpr int idleTicksLimit = 20;           // handles ignore the mouse after this many ticks without audio
    constexpr float handleAmplitudePerPixel = -0.005f;
    constexpr int overlapPushThreshold = 400;    // the middle of the curve

    /** One axis of a drag held inside its limits. The tests use the current limits; the clamped
        values are the limits as they were at mouse-down, less the start edge. The lower limit is
        applied first, so when the limits cross the upper one wins. */
    constexpr int clampDragOffset (int start, int offset, int lowerLimit, int upperLimit,
                                   int lowerDrag, int upperDrag) noexcept
    {
        int drag = offset;

        if (start + offset < lowerLimit)
            drag = lowerDrag;

        if (start + drag > upperLimit)
            drag = upperDrag;

        return drag;
    }

    /** The bump position a handle stands for: its origin's position plus its offsets. */
    float handlePosition (float originX, int offsetX, int dragX) noexcept;

    /** The bump amplitude a handle stands for: the origin's amplitude less the offsets / 200. */
    float handleAmplitude (float originY, int offsetY, int dragY) noexcept;

    /** Left edge of a handle in an editor of the given width: the position it stands for,
        truncated toward zero, from the panel's left edge less half the handle. */
    int handleLeft (int editorWidth, float originX, int offsetX, int dragX) noexcept;

    /** Top edge of a handle: 273 at amplitude 0, 200 pixels per unit, upwards. */
    int handleTop (float originY, int offsetY, int dragY) noexcept;

    /** The fields of one handle that the pass reads and writes. */
    struct HandleState
    {
        int left = 0;                 // left edge as placed at the previous pass
        int top = 0;
        int offsetX = 0, offsetY = 0;
        int dragX = 0, dragY = 0;
        int minX = 0, maxX = 0, minY = 0, maxY = 0;
        bool moved = false;
        bool dragging = false;
        bool draggable = true;
        int selectedId = 1;
    };

    /** A handle's origin: the position value and the amplitude value x 200 it was based on. */
    struct HandleOrigin
    {
        float x = 0.0f;
        float y = 0.0f;
    };

    /** The slider values of one bump that the pass reads, truncated toward zero. */
    struct BumpReading
    {
        int position = 0;
        int width = 0;
    };

    /** Values a handle must write to its bump's parameters. */
    struct HandleWrite
    {
        bool due = false;
        float position = 0.0f;
        float amplitude = 0.0f;
    };

    /** Everything the pass reads besides the handles, and the two editor members it updates. */
    struct HandlePassContext
    {
        int editorWidth = 840;
        int ticksWithoutData = 0;
        std::array<BumpReading, numBumps> bumps {};
        std::array<HandleOrigin, numBumps> origins {};
        int widthKnobIndex = 1;      // follows the handle being dragged
        int selectedHandle = 1;      // the handle shown as selected
    };

    /** Limits of handle index (0 to 2) for the given bumps: { minX, maxX }. */
    std::array<int, 2> handleXLimits (int index, const std::array<BumpReading, numBumps>& bumps, int editorWidth) noexcept;

    /** Whether neighbouring bumps reach into each other. */
    bool bumpsOverlap (const std::array<BumpReading, numBumps>& bumps) noexcept;

    /** Gives the handles the limits and the places the handle pass would give them, without
        pushing, nudging or writing anything. The editor runs it once when it opens, so that
        its first repaint does not mistake handles that were never placed for handles outside
        their limits. */
    void placeHandles (std::array<HandleState, numBumps>& handles, const HandlePassContext& context) noexcept;

    /** The handle pass of one repaint: gates the mouse on audio activity, follows the dragged
        handle with the width knob, pushes handles that lie outside their limits one pixel while
        bumps overlap, takes the values of every moved handle (returned, in handle order, to be
        written before anything else changes), renews the limits, nudges the outer handles back
        inside and places all three, and last updates the selection. */
    std::array<HandleWrite, numBumps> runHandlePass (std::array<HandleState, numBumps>& handles,
                                                      HandlePassContext& context) noexcept;
}
