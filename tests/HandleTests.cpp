#include "DotComponent.h"
#include "editor/DisplayGeometry.h"
#include "editor/HandleLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

// The bump handles and the display arithmetic, without a window: mouse events are made by hand
// and handed straight to the component.
namespace
{
    using kestrine::BumpReading;
    using kestrine::HandleOrigin;
    using kestrine::HandlePassContext;
    using kestrine::HandleState;

    juce::MouseEvent mouseEventAt (DotComponent& dot, juce::Point<float> downPosition, juce::Point<float> position)
    {
        const auto now = juce::Time::getCurrentTime();
        return { juce::Desktop::getInstance().getMainMouseSource(), position, {},
                 juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f,
                 &dot, &dot, now, downPosition, now, 1, position != downPosition };
    }

    /** Presses the mouse on a handle and moves it by (dx, dy) from there, in pixels. */
    struct Gesture
    {
        DotComponent& dot;
        juce::Point<float> down { 7.0f, 7.0f };

        void press()                      { dot.mouseDown (mouseEventAt (dot, down, down)); }
        void dragBy (float dx, float dy)  { dot.mouseDrag (mouseEventAt (dot, down, down + juce::Point<float> (dx, dy))); }
        void releaseAt (float dx, float dy) { dot.mouseUp (mouseEventAt (dot, down, down + juce::Point<float> (dx, dy))); }
    };

    class DotComponentTest  : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            dot.id = 2;
            dot.setBounds (100, 273, 14, 14);
            setLimits (50, 150);
        }

        void setLimits (int minX, int maxX)
        {
            dot.minX = minX;
            dot.maxX = maxX;
            dot.minY = kestrine::handleTopLimit;
            dot.maxY = kestrine::handleBottomLimit;
        }

        DotComponent dot;
        Gesture gesture { dot };
    };
}

TEST_F (DotComponentTest, DragStopsAtTheEdgesOfItsRange)
{
    struct Case { float dx, dy; int expectedX, expectedY; };

    // The handle starts at (100, 273); x may go from 50 to 150, y from 173 to 373.
    const Case cases[] = {
        { 20.0f, 30.0f, 20, 30 },
        { 200.0f, 0.0f, 50, 0 },
        { -200.0f, 0.0f, -50, 0 },
        { 50.0f, -100.0f, 50, -100 },     // exactly on both limits
        { 10.0f, -300.0f, 10, -100 },
        { -10.0f, 300.0f, -10, 100 },
        { 3.4f, -2.6f, 3, -3 },           // the mouse travel is rounded to whole pixels
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.dx) + ", " + juce::String (c.dy));
        DotComponent fresh;
        fresh.id = 1;
        fresh.setBounds (dot.getBounds());
        fresh.minX = dot.minX; fresh.maxX = dot.maxX; fresh.minY = dot.minY; fresh.maxY = dot.maxY;
        Gesture g { fresh };

        g.press();
        EXPECT_TRUE (fresh.dragging);
        EXPECT_EQ (fresh.selectedId, 1);

        g.dragBy (c.dx, c.dy);
        EXPECT_EQ (fresh.dragX, c.expectedX);
        EXPECT_EQ (fresh.dragY, c.expectedY);
        EXPECT_TRUE (fresh.moved);

        fresh.moved = false;
        g.releaseAt (c.dx, c.dy);
        EXPECT_EQ (fresh.offsetX, c.expectedX);
        EXPECT_EQ (fresh.offsetY, c.expectedY);
        EXPECT_EQ (fresh.dragX, 0);
        EXPECT_EQ (fresh.dragY, 0);
        EXPECT_TRUE (fresh.moved);
        EXPECT_FALSE (fresh.dragging);
    }
}

TEST_F (DotComponentTest, LimitsChangedDuringADragAreTestedButTheMouseDownLimitsApplied)
{
    gesture.press();

    // The editor narrows the range to 120 after mouse-down: crossing it snaps to the limit
    // in force at mouse-down (150, a drag of 50).
    setLimits (50, 120);
    gesture.dragBy (10.0f, 0.0f);
    EXPECT_EQ (dot.dragX, 10);
    gesture.dragBy (30.0f, 0.0f);
    EXPECT_EQ (dot.dragX, 50);

    // Widened to 200: the drag now passes the old limit freely.
    setLimits (50, 200);
    gesture.dragBy (80.0f, 0.0f);
    EXPECT_EQ (dot.dragX, 80);
    gesture.dragBy (130.0f, 0.0f);
    EXPECT_EQ (dot.dragX, 50);

    gesture.releaseAt (130.0f, 0.0f);
    EXPECT_EQ (dot.offsetX, 50);
}

TEST_F (DotComponentTest, CrossedLimitsLetTheUpperOneWin)
{
    setLimits (160, 120);
    gesture.press();

    for (const float dx : { -60.0f, -10.0f, 0.0f, 40.0f, 300.0f })
    {
        gesture.dragBy (dx, 0.0f);
        EXPECT_EQ (dot.dragX, 20) << dx;   // 120 - 100
    }

    gesture.releaseAt (-60.0f, 0.0f);
    EXPECT_EQ (dot.offsetX, 20);
}

TEST_F (DotComponentTest, ANonDraggableHandleOnlyMarksItselfMoved)
{
    dot.draggable = false;
    dot.offsetX = 7;

    gesture.press();
    EXPECT_FALSE (dot.dragging);
    EXPECT_EQ (dot.selectedId, 1);

    gesture.dragBy (30.0f, 30.0f);
    EXPECT_EQ (dot.dragX, 0);
    EXPECT_FALSE (dot.moved);

    gesture.releaseAt (30.0f, 30.0f);
    EXPECT_TRUE (dot.moved);
    EXPECT_EQ (dot.offsetX, 7);
    EXPECT_EQ (dot.offsetY, 0);
}

TEST_F (DotComponentTest, LosingDraggableDuringADragKeepsTheDragOffset)
{
    gesture.press();
    gesture.dragBy (20.0f, -10.0f);
    dot.draggable = false;
    gesture.releaseAt (40.0f, -10.0f);

    EXPECT_FALSE (dot.dragging);
    EXPECT_TRUE (dot.moved);
    EXPECT_EQ (dot.offsetX, 0);
    EXPECT_EQ (dot.dragX, 20);
    EXPECT_EQ (dot.dragY, -10);
}

TEST_F (DotComponentTest, PaintsACircleInTheColourOfItsState)
{
    EXPECT_EQ (DotComponent::circlePath().getBounds(), juce::Rectangle<float> (0.0f, 0.0f, 14.0f, 14.0f));

    struct Case { bool dragging; int selectedId; juce::uint32 colour; };
    const Case cases[] = {
        { true, 2, 0x99000000u },
        { true, 1, 0x99000000u },
        { false, 2, 0x66000000u },
        { false, 3, 0x66FFFFFFu },
    };

    for (const auto& c : cases)
    {
        dot.dragging = c.dragging;
        dot.selectedId = c.selectedId;
        const auto image = dot.createComponentSnapshot (dot.getLocalBounds(), false, 1.0f);
        const auto expected = juce::Colour (c.colour);
        const auto centre = image.getPixelAt (7, 7);

        EXPECT_NEAR (centre.getAlpha(), expected.getAlpha(), 2) << std::hex << c.colour;
        EXPECT_NEAR (centre.getRed(), expected.getRed(), 3) << std::hex << c.colour;
        EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), 0);   // outside the circle
        EXPECT_EQ (image.getPixelAt (13, 13).getAlpha(), 0);
        EXPECT_GT (image.getPixelAt (0, 7).getAlpha(), 0);   // the circle touches every side
        EXPECT_GT (image.getPixelAt (7, 13).getAlpha(), 0);
    }
}

//==============================================================================
namespace
{
    /** Stands in for the editor around the pure handle pass: the sliders are plain values that
        take what the pass writes, snapped and clamped like the parameters. */
    struct HandleBench
    {
        std::array<HandleState, kestrine::numBumps> handles {};
        HandlePassContext context;
        std::array<double, kestrine::numBumps> positions { 200.0, 400.0, 600.0 };
        std::array<double, kestrine::numBumps> amplitudes {};
        std::array<double, kestrine::numBumps> widths { 50.0, 50.0, 50.0 };
        std::array<kestrine::HandleWrite, kestrine::numBumps> lastWrites {};

        HandleBench()  { takeOrigins(); }

        /** As the editor does when it opens: origins from the sliders, handles placed on them. */
        void takeOrigins()
        {
            for (size_t i = 0; i < handles.size(); ++i)
            {
                context.origins[i] = { static_cast<float> (positions[i]), static_cast<float> (amplitudes[i] * 200.0) };
                context.bumps[i] = { static_cast<int> (positions[i]), static_cast<int> (widths[i]) };
            }

            kestrine::placeHandles (handles, context);
        }

        static double snapped (double value, double low, double high)
        {
            return std::clamp (std::round (value * 100.0) / 100.0, low, high);
        }

        void pass()
        {
            for (size_t i = 0; i < handles.size(); ++i)
                context.bumps[i] = { static_cast<int> (positions[i]), static_cast<int> (widths[i]) };

            lastWrites = kestrine::runHandlePass (handles, context);

            for (size_t i = 0; i < handles.size(); ++i)
                if (lastWrites[i].due)
                {
                    positions[i] = snapped (lastWrites[i].position, 0.0, 800.0);
                    amplitudes[i] = snapped (lastWrites[i].amplitude, -0.5, 0.5);
                }
        }
    };
}

TEST (HandlePass, PlacesHandlesFromOriginAndOffsetsAndSetsTheLimitsTable)
{
    HandleBench bench;
    bench.amplitudes[0] = 0.3;
    bench.takeOrigins();
    bench.handles[0].offsetX = 5;
    bench.handles[0].dragX = -2;
    bench.handles[0].offsetY = 10;
    bench.handles[0].dragY = 4;
    bench.pass();

    EXPECT_EQ (bench.handles[0].left, 14 + 203);
    EXPECT_EQ (bench.handles[0].top, 273 + 14 - 60);
    EXPECT_EQ (bench.handles[1].left, 14 + 400);
    EXPECT_EQ (bench.handles[2].top, 273);

    // Positions 200, 400, 600, widths 50 each, W = 840.
    const std::array<std::array<int, 2>, 3> expected { { { 64, 315 }, { 315, 515 }, { 515, 765 } } };

    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ (bench.handles[i].minX, expected[i][0]) << i;
        EXPECT_EQ (bench.handles[i].maxX, expected[i][1]) << i;
        EXPECT_EQ (bench.handles[i].minY, 173);
        EXPECT_EQ (bench.handles[i].maxY, 373);
        EXPECT_FALSE (bench.lastWrites[i].due) << "nothing moved, nothing is written";
    }
}

TEST (HandlePass, AMovedHandleWritesTheValuesItStandsFor)
{
    HandleBench bench;
    bench.context.origins[1] = { 400.0f, 0.1f * 200.0f };
    bench.handles[1].offsetX = -30;
    bench.handles[1].offsetY = 40;
    bench.handles[1].dragY = 10;
    bench.handles[1].moved = true;
    bench.pass();

    ASSERT_TRUE (bench.lastWrites[1].due);
    EXPECT_FLOAT_EQ (bench.lastWrites[1].position, 370.0f);
    EXPECT_FLOAT_EQ (bench.lastWrites[1].amplitude, (50.0f - 20.0f) * -0.005f);
    EXPECT_FALSE (bench.handles[1].moved);
    EXPECT_FALSE (bench.lastWrites[0].due);
    EXPECT_FALSE (bench.lastWrites[2].due);
}

TEST (HandlePass, GatesTheMouseAndFollowsTheDraggedHandle)
{
    HandleBench bench;
    bench.context.ticksWithoutData = 19;
    bench.handles[2].dragging = true;
    bench.pass();

    EXPECT_TRUE (bench.handles[0].draggable);
    EXPECT_EQ (bench.context.widthKnobIndex, 3);
    EXPECT_EQ (bench.context.selectedHandle, 3);

    for (const auto& h : bench.handles)
        EXPECT_EQ (h.selectedId, 3);

    // No handle dragged: both keep their values.
    bench.handles[2].dragging = false;
    bench.context.ticksWithoutData = 20;
    bench.pass();

    EXPECT_FALSE (bench.handles[1].draggable);
    EXPECT_EQ (bench.context.widthKnobIndex, 3);
    EXPECT_EQ (bench.context.selectedHandle, 3);
}

TEST (HandlePass, OverlappingBumpsArePushedApartOnePixelPerRepaint)
{
    HandleBench bench;
    bench.positions = { 300.0, 400.0, 600.0 };
    bench.widths = { 100.0, 50.0, 50.0 };

    bench.takeOrigins();

    // Bump 1 reaches up to 400, bump 2 down to 350: handle 1 lies above its upper limit and
    // handle 2 below its lower one, so each moves one pixel per repaint, away from the other,
    // until the bumps no longer overlap.
    int repaints = 0;

    while (bench.positions[0] + 100.0 > bench.positions[1] - 50.0 && repaints < 100)
    {
        const auto before = bench.positions;
        bench.pass();
        ++repaints;

        for (size_t i = 0; i < 3; ++i)
            EXPECT_TRUE (bench.lastWrites[i].due) << "an overlap rewrites every bump, repaint " << repaints;

        EXPECT_DOUBLE_EQ (bench.positions[0], before[0] - 1.0) << repaints;
        EXPECT_DOUBLE_EQ (bench.positions[1], before[1] + 1.0) << repaints;
        EXPECT_DOUBLE_EQ (bench.positions[2], 600.0);
    }

    EXPECT_EQ (repaints, 25);
    EXPECT_DOUBLE_EQ (bench.positions[0], 275.0);
    EXPECT_DOUBLE_EQ (bench.positions[1], 425.0);

    bench.pass();
    EXPECT_FALSE (bench.lastWrites[1].due) << "no overlap is left, so nothing is pushed";
    EXPECT_DOUBLE_EQ (bench.positions[1], 425.0);
}

TEST (HandlePass, AnOverlapOfOnePointRewritesEveryBumpWithoutMovingAny)
{
    // Bumps 1 and 2 share one point (p1 + w1 = p2 - w2 + 1), which handle 1's limit allows.
    // With the width knob of bump 3 shown and bump 1 past the middle only the left pass runs,
    // and it finds no handle above its upper limit.
    HandleBench bench;
    bench.context.widthKnobIndex = 3;
    bench.positions = { 400.0, 439.0, 700.0 };
    bench.widths = { 20.0, 20.0, 20.0 };
    bench.amplitudes = { 0.25, -0.1, 0.0 };
    bench.takeOrigins();

    bench.pass();

    for (int repaint = 0; repaint < 5; ++repaint)
    {
        bench.pass();

        for (size_t i = 0; i < 3; ++i)
        {
            EXPECT_TRUE (bench.lastWrites[i].due);
            EXPECT_EQ (bench.handles[i].offsetX, 0);
        }
    }

    EXPECT_DOUBLE_EQ (bench.positions[1], 439.0);
    EXPECT_DOUBLE_EQ (bench.amplitudes[0], 0.25);
    EXPECT_DOUBLE_EQ (bench.amplitudes[1], -0.1);
}

TEST (HandlePass, PushPassesFollowTheWidthKnob)
{
    // The middle pass moves handle 2 back inside its limits from either side, and handle 1
    // left of its upper limit.
    HandleBench bench;
    bench.context.widthKnobIndex = 2;
    bench.positions = { 420.0, 450.0, 460.0 };
    bench.widths = { 20.0, 20.0, 20.0 };
    auto& [h1, h2, h3] = bench.handles;
    h1.left = 500; h1.minX = 0;   h1.maxX = 400;
    h2.left = 300; h2.minX = 310; h2.maxX = 200;   // crossed limits: both pushes apply
    h3.left = 100; h3.minX = 200; h3.maxX = 900;
    h1.offsetX = h2.offsetX = h3.offsetX = 0;

    bench.context.bumps = { { { 420, 20 }, { 450, 20 }, { 460, 20 } } };
    const auto writes = kestrine::runHandlePass (bench.handles, bench.context);

    // p1 >= 400 and p3 > 400: the middle pass and the left pass run, the right pass not.
    EXPECT_EQ (h1.offsetX, -2);   // -1 in the middle pass and -1 in the left pass
    EXPECT_EQ (h2.offsetX, -1);   // +1 and -1 in the middle pass, -1 in the left pass
    EXPECT_EQ (h3.offsetX, 1);    // +1 in the middle pass; below its upper limit

    for (const auto& w : writes)
        EXPECT_TRUE (w.due);
}

TEST (HandlePass, OuterHandlesCreepInsideWithoutWriting)
{
    HandleBench bench;
    bench.positions = { 20.0, 400.0, 790.0 };
    bench.widths = { 60.0, 20.0, 40.0 };
    bench.takeOrigins();
    bench.pass();
    // Handle 1 at 34 is below its lower limit 74, handle 3 at 804 above its upper limit 775.
    EXPECT_EQ (bench.handles[0].offsetX, 1);
    EXPECT_EQ (bench.handles[2].offsetX, -1);
    EXPECT_EQ (bench.handles[0].left, 35);
    EXPECT_EQ (bench.handles[2].left, 803);

    for (int repaint = 0; repaint < 100; ++repaint)
        bench.pass();

    EXPECT_EQ (bench.handles[0].left, 74);
    EXPECT_EQ (bench.handles[2].left, 775);

    for (const auto& w : bench.lastWrites)
        EXPECT_FALSE (w.due);

    EXPECT_DOUBLE_EQ (bench.positions[0], 20.0) << "the nudges alone write nothing";
}

TEST (HandleLayout, DragClampingTable)
{
    using kestrine::clampDragOffset;
    // start 100, limits 50..150, captured as -50..50.
    static_assert (clampDragOffset (100, 20, 50, 150, -50, 50) == 20);
    static_assert (clampDragOffset (100, -80, 50, 150, -50, 50) == -50);
    static_assert (clampDragOffset (100, 80, 50, 150, -50, 50) == 50);
    static_assert (clampDragOffset (100, 0, 160, 120, 60, 20) == 20);
    SUCCEED();
}

//==============================================================================
TEST (DisplayGeometry, MapsViewValuesToWholePixelHeightsInsideThePanel)
{
    struct Case { float value; int pixels; };
    const Case cases[] = {
        { 0.0f, 0 }, { 0.004f, 0 }, { -0.004f, 0 }, { 0.5f, 100 }, { -0.2549f, -50 },
        { 1.0f, 200 }, { 1.5f, 200 }, { -1.5f, -200 },
        { std::numeric_limits<float>::infinity(), 200 }, { -std::numeric_limits<float>::infinity(), -200 },
        { std::numeric_limits<float>::quiet_NaN(), 0 },
    };

    for (const auto& c : cases)
        EXPECT_EQ (kestrine::waveformHeight (c.value), c.pixels) << c.value;

    EXPECT_NEAR (kestrine::curveHeight (0.004f), 0.8f, 1.0e-5f);
    EXPECT_FLOAT_EQ (kestrine::curveHeight (2.0f), 200.0f);
    EXPECT_FLOAT_EQ (kestrine::curveHeight (-2.0f), -200.0f);
    EXPECT_FLOAT_EQ (kestrine::curveHeight (std::numeric_limits<float>::quiet_NaN()), 0.0f);

    EXPECT_EQ (kestrine::panelLeft (840), 20);
    EXPECT_EQ (kestrine::panelBaseline (80), 280);
}

TEST (DisplayGeometry, BumpsAtTheEndsAreMovedInward)
{
    struct Case { int position, halfWidth, start, centre, end; };
    const Case cases[] = {
        { 0, 50, 1, 50, 100 },
        { 50, 50, 1, 50, 100 },       // start 0 counts as crossing
        { 51, 50, 1, 51, 101 },
        { 790, 50, 700, 750, 800 },
        { 750, 50, 700, 750, 800 },   // centre + H = 800 stays
        { 751, 50, 700, 750, 800 },
        { 400, 100, 300, 400, 500 },
        { 400, 0, 400, 400, 400 },    // nothing to draw
    };

    for (const auto& c : cases)
    {
        const auto span = kestrine::placeDisplayBump (c.position, c.halfWidth);
        EXPECT_EQ (span.start, c.start) << c.position << "/" << c.halfWidth;
        EXPECT_EQ (span.centre, c.centre) << c.position << "/" << c.halfWidth;
        EXPECT_EQ (span.end, c.end) << c.position << "/" << c.halfWidth;
    }
}

namespace
{
    float bumpValue (float amplitude, int halfWidth, int centre, int i)
    {
        const float step = (1.0f / static_cast<float> (halfWidth)) * 3.14159f;
        return (std::cos (static_cast<float> (i - centre) * step) + 1.0f) * (amplitude * 0.5f);
    }
}

TEST (DisplayGeometry, DisplayCurvePlacesBumpsAtTheEnds)
{
    kestrine::DisplayCurve curve;
    curve.fill (9.0f);   // rebuilt from zero

    kestrine::buildDisplayCurve (curve, { { { 0.4f, 0.0f, 50.0f }, { 0.3f, 790.9f, 50.9f }, { 0.0f, 400.0f, 20.0f } } });

    EXPECT_EQ (curve[0], 0.0f);
    EXPECT_FLOAT_EQ (curve[50], 0.4f);

    for (int i = 1; i < 100; ++i)
        EXPECT_FLOAT_EQ (curve[static_cast<size_t> (i)], bumpValue (0.4f, 50, 50, i)) << i;

    EXPECT_EQ (curve[100], 0.0f);
    EXPECT_EQ (curve[699], 0.0f);
    EXPECT_EQ (curve[400], 0.0f);

    for (int i = 700; i < 800; ++i)
        EXPECT_FLOAT_EQ (curve[static_cast<size_t> (i)], bumpValue (0.3f, 50, 750, i)) << i;

    EXPECT_FLOAT_EQ (curve[750], 0.3f);
}

TEST (DisplayGeometry, LaterBumpsReplaceEarlierOnesWhereTheyOverlap)
{
    kestrine::DisplayCurve curve {};
    kestrine::buildDisplayCurve (curve, { { { 0.3f, 400.0f, 100.0f }, { -0.2f, 450.0f, 100.0f }, { 0.0f, 800.0f, 5.0f } } });

    EXPECT_EQ (curve[299], 0.0f);

    for (int i = 300; i < 350; ++i)
        EXPECT_FLOAT_EQ (curve[static_cast<size_t> (i)], bumpValue (0.3f, 100, 400, i)) << i;

    for (int i = 350; i < 550; ++i)
        EXPECT_FLOAT_EQ (curve[static_cast<size_t> (i)], bumpValue (-0.2f, 100, 450, i)) << i;

    EXPECT_EQ (curve[550], 0.0f);
    EXPECT_EQ (curve[799], 0.0f) << "a zero amplitude bump writes zeros";
}

TEST (DisplayGeometry, OutOfRangeBumpsNeverWriteOutsideThePoints)
{
    // Half-widths beyond 400 would start below point 0; the parameter ranges never get there,
    // but the mirrors are only floats.
    kestrine::DisplayCurve curve {};
    kestrine::buildDisplayCurve (curve, { { { 0.5f, 400.0f, 1000.0f },
                                            { 0.5f, std::numeric_limits<float>::quiet_NaN(), 50.0f },
                                            { 0.5f, -1.0e30f, -20.0f } } });

    for (const float v : curve)
        EXPECT_TRUE (std::isfinite (v));
}
