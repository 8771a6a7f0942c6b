#include "EngineTestSupport.h"
#include "ReferenceEngine.h"

#include "engine/SampleRenderer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>

// The engine beside the plain reference on random material: each seeded case is a random
// mixture of signals rendered in random blocks with random curves and amounts changing between
// the blocks. Output, captures and display views must be identical bit for bit.
//
// KESTRINE_DIFFERENTIAL_SEED=n runs only case n (as a failure reports it);
// KESTRINE_DIFFERENTIAL_CASES=n runs n cases instead of the default.

using namespace kestrine;

namespace
{
    constexpr int defaultCases = 2000;
    constexpr double twoPi = 6.283185307179586;

    using Random = std::mt19937_64;

    double uniform (Random& random, double low, double high)
    {
        return std::uniform_real_distribution<double> (low, high) (random);
    }

    int between (Random& random, int low, int high)
    {
        return std::uniform_int_distribution<int> (low, high) (random);
    }

    bool chance (Random& random, double p)
    {
        return uniform (random, 0.0, 1.0) < p;
    }

    /** Level spread over many orders of magnitude, now and then above 1. */
    double anyLevel (Random& random)
    {
        return std::pow (10.0, uniform (random, -4.0, 0.6));
    }

    /** One channel of a case: a random sequence of stretches of different material. */
    std::vector<float> mixture (Random& random, int length)
    {
        std::vector<float> s;
        s.reserve (static_cast<size_t> (length));

        while (static_cast<int> (s.size()) < length)
        {
            const int n = std::min (length - static_cast<int> (s.size()), between (random, 20, 3000));
            const double level = anyLevel (random);

            switch (between (random, 0, 9))
            {
                case 0:   // silence
                    s.insert (s.end(), static_cast<size_t> (n), 0.0f);
                    break;

                case 1:   // noise, white or coloured by a one-pole filter either way
                {
                    const double pole = chance (random, 0.5) ? 0.0 : uniform (random, -0.95, 0.99);
                    std::normal_distribution<double> gauss (0.0, level);
                    double y = 0.0;
                    for (int i = 0; i < n; ++i)
                        s.push_back (static_cast<float> (y = gauss (random) + pole * y));
                    break;
                }

                case 2:   // a sine with harmonics, periods from 5 to 2000 samples
                case 3:
                {
                    const double period = std::exp (uniform (random, std::log (5.0), std::log (2000.0)));
                    const int harmonics = between (random, 1, 4);
                    std::array<double, 4> amplitude {}, phase {};
                    for (int h = 0; h < harmonics; ++h)
                    {
                        amplitude[(size_t) h] = level * (h == 0 ? 1.0 : uniform (random, 0.0, 1.0));
                        phase[(size_t) h] = uniform (random, 0.0, twoPi);
                    }
                    const double offset = chance (random, 0.2) ? uniform (random, -0.3, 0.3) * level : 0.0;
                    for (int i = 0; i < n; ++i)
                    {
                        double v = offset;
                        for (int h = 0; h < harmonics; ++h)
                            v += amplitude[(size_t) h] * std::sin (twoPi * (h + 1) * i / period + phase[(size_t) h]);
                        s.push_back (static_cast<float> (v));
                    }
                    break;
                }

                case 4:   // DC steps
                {
                    float v = 0.0f;
                    for (int i = 0; i < n; ++i)
                    {
                        if (i % between (random, 1, 200) == 0)
                            v = static_cast<float> (uniform (random, -1.0, 1.0) * level);
                        s.push_back (v);
                    }
                    break;
                }

                case 5:   // pulses whose halves balance at, or right beside, the limit of 0.1
                {
                    const int high = between (random, 1, 300), low = between (random, 1, 300);
                    const auto h = static_cast<float> (level);
                    const auto l = static_cast<float> (level * (static_cast<double> (high) / low) * (0.9 / 1.1)
                                                       * (chance (random, 0.5) ? 1.0 : uniform (random, 0.999, 1.001)));
                    for (int i = 0; i < n; ++i)
                        s.push_back ((i % (high + low)) < high ? h : -l);
                    break;
                }

                case 6:   // runs of one sign
                {
                    std::normal_distribution<double> gauss (0.0, level);
                    float sign = 1.0f;
                    for (int i = 0; i < n; ++i)
                    {
                        if (i % between (random, 1, 400) == 0)
                            sign = -sign;
                        s.push_back (sign * static_cast<float> (std::abs (gauss (random))));
                    }
                    break;
                }

                case 7:   // denormals and the smallest normal values, alone or on a quiet sine
                {
                    const bool onSine = chance (random, 0.5);
                    for (int i = 0; i < n; ++i)
                    {
                        const float tiny = std::numeric_limits<float>::denorm_min() * static_cast<float> (between (random, -100000, 100000));
                        s.push_back (onSine ? static_cast<float> (1.0e-37 * std::sin (twoPi * i / 37.0)) + tiny : tiny);
                    }
                    break;
                }

                case 8:   // a short burst of NaN and infinities, or of values near the largest float
                {
                    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
                    constexpr float inf = std::numeric_limits<float>::infinity();
                    constexpr float huge = 3.0e38f;
                    const std::array<float, 6> values { nan, inf, -inf, huge, -huge, 0.5f };
                    const int burst = std::min (n, between (random, 1, 60));
                    for (int i = 0; i < burst; ++i)
                        s.push_back (values[(size_t) between (random, 0, 5)]);
                    break;
                }

                default:   // noise with exact zeros strewn in
                {
                    std::normal_distribution<double> gauss (0.0, level);
                    const double zeros = uniform (random, 0.05, 0.6);
                    for (int i = 0; i < n; ++i)
                        s.push_back (chance (random, zeros) ? 0.0f : static_cast<float> (gauss (random)));
                    break;
                }
            }
        }

        s.resize (static_cast<size_t> (length));
        return s;
    }

    /** Three random bumps, or now and then any values at all, with a non-zero start at times. */
    BumpCurveTable anyCurve (Random& random)
    {
        BumpCurveTable curve {};

        if (chance (random, 0.15))
        {
            for (auto& v : curve)
                v = static_cast<float> (uniform (random, -1.0, 1.0));
            return curve;
        }

        std::array<BumpShape, numBumps> shapes;
        std::array<int, numBumps> centres {};
        for (size_t k = 0; k < shapes.size(); ++k)
        {
            shapes[k] = { static_cast<float> (uniform (random, -0.5, 0.5)), static_cast<float> (between (random, 5, 100)) };
            centres[k] = between (random, 0, curvePoints);
        }

        buildBumpCurve (curve, shapes, centres);
        if (chance (random, 0.3))
            curve[0] += static_cast<float> (uniform (random, -0.2, 0.2));
        return curve;
    }

    float sanitised (float v)
    {
        return std::isfinite (v) ? v : 0.0f;
    }

    /** Runs one case and returns an empty string or the first difference found. */
    std::string runCase (std::uint64_t seed)
    {
        Random random (seed);
        const bool stereo = chance (random, 0.6);
        const int length = between (random, 1800, 9000);

        auto left = mixture (random, length);
        auto right = ! stereo ? std::vector<float>() : chance (random, 0.3) ? left : mixture (random, length);

        auto engine = std::make_unique<SampleRenderer>();
        auto reference = std::make_unique<reference::Engine>();
        test::TestMirrors mirrors;
        DisplayViews views;

        auto refLeft = left, refRight = right;
        for (auto& v : refLeft)
            v = sanitised (v);
        for (auto& v : refRight)
            v = sanitised (v);

        const auto setAmount = [&] (bool distortion, bool jump, float value)
        {
            auto& amount = distortion ? mirrors.distortion : mirrors.dryWet;
            amount.target = value;
            (distortion ? reference->distortionTarget : reference->dryWetTarget) = value;
            if (jump)
            {
                amount.current = value;
                (distortion ? reference->distortionCurrent : reference->dryWetCurrent) = value;
            }
        };

        setAmount (true, true, static_cast<float> (uniform (random, -1.0, 1.0)));
        setAmount (false, true, static_cast<float> (uniform (random, 0.0, 1.0)));
        mirrors.curve = reference->curve = anyCurve (random);

        std::ostringstream where;

        for (int at = 0; at < length;)
        {
            if (chance (random, 0.3))
                mirrors.curve = reference->curve = anyCurve (random);
            if (chance (random, 0.3))
                setAmount (chance (random, 0.5), chance (random, 0.3), static_cast<float> (uniform (random, -1.0, 1.0)));

            const int longest = chance (random, 0.5) ? 4096 : 300;
            const int n = std::min (length - at, between (random, 0, longest));
            const long capturesBefore = reference->captures;

            const bool filled = engine->process (left.data() + at, stereo ? right.data() + at : nullptr, n, mirrors, &views);
            reference->process (refLeft.data() + at, stereo ? refRight.data() + at : nullptr, n);

            for (int i = at; i < at + n; ++i)
            {
                const auto k = static_cast<size_t> (i);
                if (! test::sameBits (left[k], refLeft[k]) || (stereo && ! test::sameBits (right[k], refRight[k])))
                {
                    where << "output differs at sample " << i << ": " << left[k] << " vs " << refLeft[k];
                    return where.str();
                }
            }

            const bool captured = reference->captures != capturesBefore;
            const auto& capture = engine->capture;

            if (filled != captured || capture.periodLength != reference->periodLength)
            {
                where << "capture differs in the block ending at sample " << at + n << ": period "
                      << capture.periodLength << " vs " << reference->periodLength;
                return where.str();
            }

            if (captured)
            {
                // The cycle and its peak; the views show the peak too (the normalised view
                // divides by it).
                const int period = capture.periodLength;
                float peak = 0.0f;
                for (int j = 0; j < period; ++j)
                {
                    const float v = reference->capturedCycle[(size_t) j];
                    peak = std::max (peak, std::abs (v));
                    if (! test::sameBits (capture.cycleSample (j), v))
                    {
                        where << "captured cycle differs at entry " << j << " after sample " << at + n;
                        return where.str();
                    }
                }

                if (! test::sameBits (capture.cyclePeak, std::min (peak, 1.0f)))
                {
                    where << "cycle peak differs after sample " << at + n;
                    return where.str();
                }

                for (size_t p = 0; p < (size_t) curvePoints; ++p)
                    if (! test::sameBits (views.normalisedView[p], reference->views.normalisedView[p])
                         || ! test::sameBits (views.sampleView[p], reference->views.sampleView[p]))
                    {
                        where << "display view differs at point " << p << " after sample " << at + n;
                        return where.str();
                    }
            }

            if (! test::sameBits (mirrors.distortion.current, reference->distortionCurrent)
                 || ! test::sameBits (mirrors.dryWet.current, reference->dryWetCurrent))
            {
                where << "smoothed amounts differ after sample " << at + n;
                return where.str();
            }

            at += n;
        }

        return {};
    }

    std::uint64_t environmentNumber (const char* name, std::uint64_t fallback)
    {
        const char* text = std::getenv (name);
        return text != nullptr && *text != '\0' ? std::strtoull (text, nullptr, 10) : fallback;
    }
}

TEST (EngineDifferential, RandomMaterialGivesTheReferenceResultBitForBit)
{
    const juce::ScopedNoDenormals noDenormals;
    const auto onlySeed = environmentNumber ("KESTRINE_DIFFERENTIAL_SEED", 0);
    const auto cases = environmentNumber ("KESTRINE_DIFFERENTIAL_CASES", defaultCases);
    const auto first = onlySeed != 0 ? onlySeed : 1;
    const auto last = onlySeed != 0 ? onlySeed : cases;

    for (auto seed = first; seed <= last; ++seed)
    {
        const auto difference = runCase (seed);
        ASSERT_TRUE (difference.empty()) << "seed " << seed << ": " << difference
                                         << " (rerun with KESTRINE_DIFFERENTIAL_SEED=" << seed << ")";
    }
}
