#include "engine/BumpCurve.h"
#include "engine/TripleBuffer.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kestrine;

namespace
{
    BumpCurveTable curveWith (float amplitude, float width, int centre)
    {
        BumpCurveTable curve;
        curve.fill (123.0f);   // must be cleared by the build
        buildBumpCurve (curve, { BumpShape { amplitude, width }, BumpShape {}, BumpShape {} }, { centre, 0, 0 });
        return curve;
    }

    int firstNonZero (const BumpCurveTable& curve)
    {
        for (size_t i = 0; i < curve.size(); ++i)
            if (curve[i] != 0.0f)
                return static_cast<int> (i);
        return -1;
    }
}

TEST (BumpCurve, OneBumpHasTheRaisedCosineShapeOverTwoWidths)
{
    const auto curve = curveWith (0.5f, 50.0f, 200);
    const float step = (1.0f / 50.0f) * 3.14159f;

    EXPECT_FLOAT_EQ (curve[200], 0.5f);
    EXPECT_EQ (curve[150], (std::cos (-50.0f * step) + 1.0f) * 0.25f);
    EXPECT_NEAR (curve[150], 0.0f, 1.0e-6f);
    EXPECT_GT (curve[249], 0.0f);
    EXPECT_LT (curve[249], 0.001f);
    EXPECT_EQ (curve[149], 0.0f);
    EXPECT_EQ (curve[250], 0.0f);

    for (int i = 151; i < 250; ++i)
        EXPECT_EQ (curve[static_cast<size_t> (i)], (std::cos (static_cast<float> (i - 200) * step) + 1.0f) * 0.25f) << i;
}

TEST (BumpCurve, WidthIsTruncatedAndPiIsTheShortConstant)
{
    const auto curve = curveWith (0.4f, 20.9f, 100);
    const float step = (1.0f / 20.0f) * 3.14159f;

    EXPECT_EQ (curve[79], 0.0f);
    EXPECT_EQ (curve[80], (std::cos (-20.0f * step) + 1.0f) * 0.2f);
    EXPECT_EQ (curve[81], (std::cos (-19.0f * step) + 1.0f) * 0.2f);
    EXPECT_GT (curve[119], 0.0f);
    EXPECT_EQ (curve[120], 0.0f);
}

TEST (BumpCurve, ABumpIsDrawnOnlyWhenItFitsInsideThePeriod)
{
    // The left end of a drawn bump (entry centre - width) is written but rounds to exactly 0
    // in single precision, so the first non-zero entry is the one after it.
    struct Case { int centre; int expectedFirst; };
    const Case cases[] = {
        { 40, -1 }, { 760, -1 }, { 800, -1 }, { 900, -1 }, { -5, -1 },
        { 50, 1 }, { 750, 701 }, { 400, 351 },
    };

    for (const auto& c : cases)
        EXPECT_EQ (firstNonZero (curveWith (0.5f, 50.0f, c.centre)), c.expectedFirst) << "centre " << c.centre;

    const auto top = curveWith (0.5f, 50.0f, 750);
    EXPECT_GT (top[799], 0.0f);
}

TEST (BumpCurve, OverlappingBumpsAddAndZeroAmplitudesGiveAFlatCurve)
{
    BumpCurveTable curve;
    buildBumpCurve (curve, { BumpShape { 0.5f, 50.0f }, BumpShape { 0.25f, 50.0f }, BumpShape { -0.5f, 10.0f } },
                    { 400, 400, 400 });
    EXPECT_FLOAT_EQ (curve[400], 0.5f + 0.25f - 0.5f);

    buildBumpCurve (curve, { BumpShape { 0.0f, 50.0f }, BumpShape { 0.0f, 50.0f }, BumpShape { 0.0f, 50.0f } },
                    { 200, 400, 600 });
    EXPECT_EQ (firstNonZero (curve), -1);

    // Mirrors at zero before the first parameter refresh: width 0 draws nothing.
    buildBumpCurve (curve, {}, { 0, 0, 0 });
    EXPECT_EQ (firstNonZero (curve), -1);
}

TEST (BumpCurve, DriftWrapsAndTruncatesTowardsZero)
{
    struct Case { int centre; float speed; int expected; };
    const Case cases[] = {
        { 796, 0.5f, 0 },      // 801 wraps to the start
        { 3, -0.5f, 800 },     // -2 wraps to the end
        { 800, -0.5f, 795 },
        { 400, 0.09f, 400 },   // +0.9 truncates to no movement
        { 400, -0.09f, 399 },  // 399.1 truncates down by one
        { 0, -0.05f, 0 },      // -0.5 truncates to 0 and stays
        { 790, 1.0f, 0 },      // exactly 800 wraps too
        { 250, 0.0f, 250 },
    };

    for (const auto& c : cases)
        EXPECT_EQ (driftedCentre (c.centre, c.speed), c.expected) << c.centre << " at " << c.speed;
}

TEST (TripleBuffer, ReaderSeesOnlyPublishedValues)
{
    TripleBuffer<int> buffer;
    buffer.fill (0);

    EXPECT_FALSE (buffer.fetch());
    EXPECT_EQ (buffer.front(), 0);

    buffer.back() = 1;
    EXPECT_FALSE (buffer.fetch());   // not yet published
    buffer.publish();
    buffer.back() = 2;               // being written, not published
    EXPECT_TRUE (buffer.fetch());
    EXPECT_EQ (buffer.front(), 1);
    EXPECT_FALSE (buffer.fetch());
    EXPECT_EQ (buffer.front(), 1);

    buffer.publish();
    buffer.back() = 3;
    buffer.publish();                // two publications before a fetch: the newest wins
    EXPECT_TRUE (buffer.fetch());
    EXPECT_EQ (buffer.front(), 3);
}
