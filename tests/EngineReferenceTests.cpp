#include "EngineTestSupport.h"
#include "ReferenceEngine.h"

#include "engine/SampleRenderer.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

using namespace kestrine;

namespace
{
    constexpr double pi = juce::MathConstants<double>::pi;

    /** One stretch of the test signal and the settings that change at its start. */
    struct Segment
    {
        std::vector<float> left, right;
        float distortion, dryWet;
        float curveScale;
    };

    std::vector<float> generate (int length, const std::function<double (int)>& f)
    {
        std::vector<float> s (static_cast<size_t> (length));
        for (int i = 0; i < length; ++i)
            s[static_cast<size_t> (i)] = static_cast<float> (f (i));
        return s;
    }

    std::vector<Segment> variedSignal()
    {
        std::mt19937 random (11);
        std::normal_distribution<double> gauss (0.0, 0.3);
        auto sine = [] (double period, double amplitude = 0.8, double phase = 0.1)
        {
            return [=] (int i) { return amplitude * std::sin (2.0 * pi * (i + phase) / period); };
        };

        std::vector<Segment> segments;
        auto add = [&] (int length, std::function<double (int)> left, std::function<double (int)> right,
                        float distortion, float dryWet, float curveScale)
        {
            segments.push_back ({ generate (length, left), generate (length, right), distortion, dryWet, curveScale });
        };

        add (5000, sine (100.0), sine (100.0), 0.0f, 1.0f, 1.0f);
        add (4000, sine (11.0), sine (11.0, 0.5), 0.7f, 1.0f, 1.0f);
        add (4000, sine (11.5), sine (11.5), -0.4f, 1.0f, -1.0f);
        add (4000, sine (12.0), sine (12.0, 0.3, 2.0), 1.0f, 0.6f, 1.0f);
        add (6000, sine (1599.0), sine (1599.0), 0.2f, 1.0f, 0.5f);
        add (6000, sine (1600.0), sine (1600.0), 0.2f, 1.0f, 0.5f);
        add (5000, sine (800.0), sine (801.0), -1.0f, 1.0f, 1.0f);
        add (5000, sine (457.3, 1.7), sine (211.9, 1.3), 0.5f, 0.0f, 1.0f);        // peaks above 1
        add (5000, [&] (int i) { return 0.4 * std::sin (2.0 * pi * i / 200.0) + 0.5 * std::sin (4.0 * pi * i / 200.0 + 0.7)
                                        + 0.2 * std::sin (6.0 * pi * i / 200.0); },
             sine (53.0), 0.3f, 1.0f, 1.0f);                                        // harmonics
        add (5000, [&] (int) { return gauss (random); }, [&] (int) { return gauss (random); }, 0.8f, 1.0f, 1.0f);
        add (3000, [] (int) { return 0.0; }, [] (int) { return 0.0; }, 0.0f, 1.0f, 1.0f);
        add (3000, [] (int) { return 0.3; }, [] (int) { return -0.2; }, 0.4f, 1.0f, 1.0f);
        add (5000, [] (int i) { const int p = i % 40; return p == 0 || p == 20 ? 0.0 : (p < 20 ? 0.5 : -0.5); },
             [] (int i) { return (i % 60) < 30 ? 0.6 : -0.6; }, -0.6f, 1.0f, 1.0f);   // steps through exact 0
        add (8000, [] (int i)
             {
                 const double t = (i % 4000) / 48000.0, time = i / 48000.0;
                 double sum = 0.0;
                 for (double f : { 220.0, 261.63, 329.63 })
                     sum += 2.0 * (f * time - std::floor (f * time + 0.5));
                 return 0.3 * std::exp (-6.0 * t) * sum;
             },
             sine (109.0, 0.2), 0.25f, 0.9f, 1.0f);                                 // plucked chord
        add (4000, sine (100.0, 1.0e-37), sine (100.0, 1.0e-37), 1.0f, 1.0f, 1.0f); // nearly denormal
        add (6000, [&] (int i) { return std::sin (2.0 * pi * i / (20.0 + i * 0.01)) * 0.7 + gauss (random) * 0.05; },
             sine (100.0), 0.0f, 1.0f, 1.0f);                                       // sweep with a little noise
        return segments;
    }

    BumpCurveTable curveFor (float scale, int variant)
    {
        BumpCurveTable curve {};
        buildBumpCurve (curve,
                        { BumpShape { 0.5f * scale, 5.0f + 7.0f * (float) (variant % 13) },
                          BumpShape { -0.35f * scale, 100.0f },
                          BumpShape { 0.2f, 50.0f } },
                        { 5 + 37 * variant % 790, 400, 700 });
        // A non-zero start matters for the steps past the end of the curve.
        curve[0] += 0.05f * scale;
        return curve;
    }

    /** Runs the engine and the reference side by side and demands identical output and views. */
    void runSideBySide (bool stereo)
    {
        const juce::ScopedNoDenormals noDenormals;
        auto engine = std::make_unique<SampleRenderer>();
        auto reference = std::make_unique<reference::Engine>();
        test::TestMirrors mirrors;
        DisplayViews views;

        const std::array<int, 9> blockSizes { 512, 1, 0, 37, 4096, 2000, 64, 1601, 256 };
        std::mt19937 random (5);
        int block = 0, curveVariant = 0, comparedViews = 0;
        long position = 0;

        for (const auto& segment : variedSignal())
        {
            mirrors.distortion.target = segment.distortion;
            mirrors.dryWet.target = segment.dryWet;
            reference->distortionTarget = segment.distortion;
            reference->dryWetTarget = segment.dryWet;

            auto left = segment.left, right = segment.right;
            auto refLeft = left, refRight = right;
            const int length = static_cast<int> (left.size());

            for (int at = 0; at < length;)
            {
                // The curve changes now and then between blocks, and the editor opens and closes.
                if (block % 3 == 0)
                {
                    mirrors.curve = reference->curve = curveFor (segment.curveScale, ++curveVariant);
                }
                const bool displayOpen = (block / 5) % 4 != 3;

                const int n = std::min (blockSizes[(size_t) block % blockSizes.size()], length - at);
                ++block;

                const bool refreshed = engine->process (left.data() + at, stereo ? right.data() + at : nullptr, n,
                                                        mirrors, displayOpen ? &views : nullptr);
                reference->process (refLeft.data() + at, stereo ? refRight.data() + at : nullptr, n);

                for (int i = at; i < at + n; ++i)
                {
                    const auto k = (size_t) i;
                    ASSERT_TRUE (test::sameBits (left[k], refLeft[k]))
                        << "left sample " << position + i << ": " << left[k] << " vs " << refLeft[k];
                    if (stereo)
                    {
                        ASSERT_TRUE (test::sameBits (right[k], refRight[k]))
                            << "right sample " << position + i << ": " << right[k] << " vs " << refRight[k];
                    }
                }

                if (refreshed)
                {
                    ++comparedViews;
                    for (size_t p = 0; p < (size_t) curvePoints; ++p)
                    {
                        ASSERT_TRUE (test::sameBits (views.normalisedView[p], reference->views.normalisedView[p]))
                            << "normalised view point " << p << " after sample " << position + at + n;
                        ASSERT_TRUE (test::sameBits (views.sampleView[p], reference->views.sampleView[p]))
                            << "sample view point " << p << " after sample " << position + at + n;
                    }
                }

                EXPECT_EQ (engine->capture.periodLength, reference->periodLength);
                EXPECT_TRUE (test::sameBits (mirrors.distortion.current, reference->distortionCurrent));
                EXPECT_TRUE (test::sameBits (mirrors.dryWet.current, reference->dryWetCurrent));
                at += n;
            }

            position += length;
        }

        // The signal must have exercised the captures and the display.
        EXPECT_GT (reference->captures, 1000);
        EXPECT_GT (comparedViews, 30);
    }
}

TEST (EngineAgainstReference, StereoOutputAndViewsAreIdenticalSampleForSample)
{
    runSideBySide (true);
}

TEST (EngineAgainstReference, MonoOutputAndViewsAreIdenticalSampleForSample)
{
    runSideBySide (false);
}
