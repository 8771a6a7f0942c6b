#pragma once

#include "engine/EngineConstants.h"

#include <array>

// Arithmetic of the editor's display panel: where the panel lies, how a view value becomes a
// pixel height, and the bump curve that the editor draws over the waveform. No framework calls,
// so all of it can be checked without a window.
namespace kestrine
{
    constexpr int panelWidth = curvePoints;     // one pixel column per point
    constexpr int panelHeight = 400;
    constexpr int pixelsPerUnit = 200;          // vertical scale of both traces
    constexpr int maximumTraceHeight = 200;     // the panel's top and bottom edges, from the baseline

    using DisplayCurve = std::array<float, curvePoints>;

    /** Left edge of the panel in an editor of the given width. */
    constexpr int panelLeft (int editorWidth) noexcept    { return editorWidth / 2 - panelWidth / 2; }

    /** Baseline of both traces, the middle of the panel. */
    constexpr int panelBaseline (int panelTop) noexcept   { return panelTop + panelHeight / 2; }

    /** Truncates toward zero like a cast to int, but defined for every float: NaN gives 0 and
        values beyond the int range give its limits. */
    int truncateToInt (float value) noexcept;

    /** Height above the baseline of a waveform point: value x 200 truncated to whole pixels and
        held inside the panel. */
    int waveformHeight (float value) noexcept;

    /** Height above the baseline of a bump-curve point: value x 200, not rounded, held inside
        the panel. NaN gives 0. */
    float curveHeight (float value) noexcept;

    /** One bump as the display draws it, taken from the mirrors. */
    struct DisplayBump
    {
        float amplitude = 0.0f;
        float position = 0.0f;
        float width = 0.0f;      // half the span in points
    };

    /** The points a displayed bump covers: entries start to end - 1, centred on centre. */
    struct BumpSpan
    {
        int start = 0;
        int centre = 0;
        int end = 0;
    };

    /** Places a bump of the given position and half-width on the 800 display points. A bump
        that would reach below point 1 is moved right to start there; one that would reach past
        point 800 is moved left to end there. */
    BumpSpan placeDisplayBump (int position, int halfWidth) noexcept;

    /** Rebuilds the displayed bump curve from zero. The bumps sit at their set positions, are
        moved inward at the ends, and a later bump replaces an earlier one where they overlap.
        Nothing outside the 800 points is ever written. */
    void buildDisplayCurve (DisplayCurve& curve, const std::array<DisplayBump, numBumps>& bumps) noexcept;
}
