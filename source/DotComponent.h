#pragma once

#include "editor/HandleLayout.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** A bump handle on the display panel: a 14 px circle that the user drags sideways for the
    bump's position and up and down for its amplitude. It only records how far it was dragged,
    inside the limits the editor gives it; the editor's handle pass turns that into parameter
    values, renews the limits and places it. It never moves or repaints itself.
    Message thread only; the editor reads and writes the fields directly. */
class DotComponent  : public juce::Component
{
public:
    DotComponent() = default;
    ~DotComponent() override = default;

    void mouseDown (const juce::MouseEvent&) override
    {
        if (! draggable)
            return;

        dragging = true;
        selectedId = id;
        startX = getX();
        startY = getY();
        minDragX = minX - startX;
        maxDragX = maxX - startX;
        minDragY = minY - startY;
        maxDragY = maxY - startY;

        if (onDragStart != nullptr)
            onDragStart();
    }

    void mouseDrag (const juce::MouseEvent& event) override
    {
        if (! draggable)
            return;

        const auto drag = clampedDrag (event);
        dragX = drag.x;
        dragY = drag.y;
        moved = true;
    }

    void mouseUp (const juce::MouseEvent& event) override
    {
        const bool wasDragging = dragging;
        moved = true;
        dragging = false;

        if (draggable)
        {
            const auto drag = clampedDrag (event);
            offsetX += drag.x;
            offsetY += drag.y;
            dragX = 0;
            dragY = 0;
        }

        if (wasDragging && onDragEnd != nullptr)
            onDragEnd();
    }

    void paint (juce::Graphics& g) override
    {
        g.setColour (dragging ? juce::Colour (0x99000000u)
                              : selectedId == id ? juce::Colour (0x66000000u)
                                                 : juce::Colour (0x66FFFFFFu));
        g.fillPath (circlePath());
    }

    /** The handle's outline: a circle of diameter 14 from four cubic segments, each control
        point 3.85 from its end point along the tangent. */
    static juce::Path circlePath()
    {
        constexpr float d = static_cast<float> (kestrine::handleDiameter);
        constexpr float r = d * 0.5f;
        constexpr float nearControl = 3.15f;
        constexpr float farControl = 10.85f;

        juce::Path path;
        path.startNewSubPath (r, 0.0f);
        path.cubicTo (farControl, 0.0f, d, nearControl, d, r);
        path.cubicTo (d, farControl, farControl, d, r, d);
        path.cubicTo (nearControl, d, 0.0f, farControl, 0.0f, r);
        path.cubicTo (0.0f, nearControl, nearControl, 0.0f, r, 0.0f);
        path.closeSubPath();
        return path;
    }

    // Committed drag offset: all finished drags, plus the editor's one-pixel pushes for x.
    int offsetX = 0, offsetY = 0;
    // Offset of the drag in progress, already clamped.
    int dragX = 0, dragY = 0;
    // The handle's values must be written at the next repaint.
    bool moved = false;
    // Allowed left and top edges; renewed by the editor on every repaint.
    int minX = 0, maxX = 0, minY = 0, maxY = 0;
    // The limits less the edges at mouse-down.
    int minDragX = 0, maxDragX = 0, minDragY = 0, maxDragY = 0;
    // Left and top edge at mouse-down.
    int startX = 0, startY = 0;
    bool dragging = false;
    // Whether the mouse is taken at all; the editor clears it while no audio flows.
    bool draggable = true;
    // Handle number 1 to 3, and the number of the handle shown as selected.
    int id = 0;
    int selectedId = 1;
    // Called at the mouse-down that starts a drag and at the mouse-up that ends it (after the
    // offset is committed); the editor makes the drag one gesture of the host.
    std::function<void()> onDragStart, onDragEnd;

private:
    juce::Point<int> clampedDrag (const juce::MouseEvent& event) const
    {
        const auto offset = event.getOffsetFromDragStart();
        return { kestrine::clampDragOffset (startX, offset.x, minX, maxX, minDragX, maxDragX),
                 kestrine::clampDragOffset (startY, offset.y, minY, maxY, minDragY, maxDragY) };
    }

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DotComponent)
};
