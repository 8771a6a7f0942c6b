// processBlock in nanoseconds per stereo sample, 512-sample blocks at 48 kHz, beside a floor:
// the same per-sample path without cycle capture (ring write, shaping, delay and mix). The
// engine's benchmarks report their ratio to the floor of the same signal as "x_floor" and
// their share of one core for stereo at 48 kHz as "core_pct".

#include "PluginProcessor.h"
#include "engine/Shaping.h"

#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace
{
    constexpr int blockSize = 512;
    constexpr double sampleRate = 48000.0;
    constexpr int signalLength = 4 * 48000;
    constexpr double twoPi = 6.283185307179586;

    using Signal = std::vector<float>;   // mono; both channels get it

    Signal sine (double period)
    {
        Signal s (signalLength);
        for (size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<float> (0.8 * std::sin (twoPi * (static_cast<double> (i) + 0.25) / period));
        return s;
    }

    Signal whiteNoise()
    {
        std::mt19937 random (7);
        std::uniform_real_distribution<float> uniform (-0.7f, 0.7f);
        Signal s (signalLength);
        for (auto& v : s)
            v = uniform (random);
        return s;
    }

    // A sawtooth chord (A minor) struck every second, each strike decaying and darkening.
    Signal pluckedChord()
    {
        constexpr std::array<double, 3> frequencies { 220.0, 261.63, 329.63 };
        Signal s (signalLength);
        double lowpass = 0.0;

        for (size_t i = 0; i < s.size(); ++i)
        {
            const double t = static_cast<double> (i % 48000) / sampleRate;
            const double time = static_cast<double> (i) / sampleRate;
            double sum = 0.0;
            for (auto f : frequencies)
                sum += 2.0 * (f * time - std::floor (f * time + 0.5));
            const double envelope = std::exp (-3.0 * t);
            lowpass += (0.05 + 0.6 * envelope) * (sum - lowpass);
            s[i] = static_cast<float> (0.3 * envelope * lowpass);
        }
        return s;
    }

    const Signal& signalNamed (const std::string& name)
    {
        static const std::map<std::string, Signal> signals {
            { "silence", Signal (signalLength, 0.0f) },
            { "sine100", sine (100.0) },
            { "sine12", sine (12.0) },
            { "noise", whiteNoise() },
            { "chord", pluckedChord() },
        };
        return signals.at (name);
    }

    /** The per-sample path without cycle capture, written as plainly as the engine's. */
    struct Floor
    {
        struct Amount { std::atomic<float> current, target; };

        void process (float* left, float* right, int numSamples) noexcept
        {
            for (int i = 0; i < numSamples; ++i)
            {
                const float inLeft = left[i], inRight = right[i];

                ring[static_cast<size_t> (ringIndex)] = (inLeft + inRight) * 0.5f;
                ringIndex = ringIndex >= kestrine::ringLength - 1 ? 0 : ringIndex + 1;

                const float d = kestrine::smoothedStep (distortion.current.load(), distortion.target.load());
                distortion.current.store (d);

                const auto write = static_cast<size_t> (writeIndex), read = static_cast<size_t> (readIndex);
                delayLeft[write] = kestrine::shape (inLeft, d);
                delayRight[write] = kestrine::shape (inRight, d);

                const float m = kestrine::smoothedStep (dryWet.current.load(), dryWet.target.load());
                dryWet.current.store (m);

                left[i] = m * delayLeft[read] + inLeft * (1.0f - m);
                right[i] = m * delayRight[read] + inRight * (1.0f - m);

                readIndex = readIndex >= kestrine::ringLength - 1 ? 0 : readIndex + 1;
                writeIndex = writeIndex >= kestrine::ringLength - 1 ? 0 : writeIndex + 1;
            }
        }

        Amount distortion { { 0.3f }, { 0.3f } }, dryWet { { 1.0f }, { 1.0f } };
        std::array<float, kestrine::ringLength> ring {}, delayLeft {}, delayRight {};
        int ringIndex = kestrine::lookAhead, writeIndex = kestrine::lookAhead, readIndex = 0;
    };

    std::map<std::string, double>& floorNanoseconds()
    {
        static std::map<std::string, double> figures;
        return figures;
    }

    /** CPU time of the calling thread: the ratios and core shares stay meaningful on a busy
        machine, where wall-clock time also counts other programs. */
    double threadCpuNanoseconds() noexcept
    {
        timespec now {};
        clock_gettime (CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double> (now.tv_sec) * 1.0e9 + static_cast<double> (now.tv_nsec);
    }

    /** Runs the loop over the signal's blocks and returns ns per stereo sample (thread CPU time). */
    template <typename Process>
    double runBlocks (benchmark::State& state, const Signal& signal, Process&& process)
    {
        juce::AudioBuffer<float> buffer (2, blockSize);
        size_t cursor = 0;
        std::int64_t samples = 0;
        const auto start = threadCpuNanoseconds();

        for (auto _ : state)
        {
            if (cursor + blockSize > signal.size())
                cursor = 0;
            for (int c = 0; c < 2; ++c)
                buffer.copyFrom (c, 0, signal.data() + cursor, blockSize);
            cursor += blockSize;

            process (buffer);
            benchmark::DoNotOptimize (buffer.getReadPointer (0));
            benchmark::ClobberMemory();
            samples += blockSize;
        }

        const double elapsedNs = threadCpuNanoseconds() - start;
        state.SetItemsProcessed (samples);
        // Seconds per sample, shown by the library in its own time units.
        state.counters["per_sample"] = benchmark::Counter (blockSize, benchmark::Counter::kIsIterationInvariantRate
                                                                      | benchmark::Counter::kInvert);
        return elapsedNs / static_cast<double> (std::max<std::int64_t> (samples, 1));
    }

    void floorPath (benchmark::State& state, const std::string& name)
    {
        Floor floor;
        floorNanoseconds()[name] = runBlocks (state, signalNamed (name), [&] (juce::AudioBuffer<float>& buffer)
        {
            const juce::ScopedNoDenormals noDenormals;
            floor.process (buffer.getWritePointer (0), buffer.getWritePointer (1), buffer.getNumSamples());
        });
    }

    void engine (benchmark::State& state, const std::string& name, bool editorOpen)
    {
        CompressorAudioProcessor processor;
        processor.prepareToPlay (sampleRate, blockSize);
        for (size_t k = 0; k < kestrine::numBumps; ++k)
            processor.bumps[k].amplitude = k == 1 ? -0.3f : 0.4f;
        processor.distortion.current = processor.distortion.target = 0.3f;
        processor.updateParameters (false);
        processor.setDisplayActive (editorOpen);

        juce::MidiBuffer midi;
        const double ns = runBlocks (state, signalNamed (name), [&] (juce::AudioBuffer<float>& buffer)
        {
            processor.processBlock (buffer, midi);
        });

        if (const auto floor = floorNanoseconds().find (name); floor != floorNanoseconds().end() && floor->second > 0.0)
            state.counters["x_floor"] = ns / floor->second;

        state.counters["core_pct"] = ns * sampleRate * 1.0e-9 * 100.0;
    }

    int registerAll()
    {
        for (const char* name : { "silence", "sine100", "sine12", "noise", "chord" })
        {
            benchmark::RegisterBenchmark ((std::string ("floor/") + name).c_str(), floorPath, std::string (name));
            benchmark::RegisterBenchmark ((std::string ("processBlock/") + name).c_str(), engine, std::string (name), false);
        }

        benchmark::RegisterBenchmark ("processBlock/sine12/editorOpen", engine, std::string ("sine12"), true);
        benchmark::RegisterBenchmark ("processBlock/noise/editorOpen", engine, std::string ("noise"), true);
        return 0;
    }
}

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    registerAll();
    benchmark::Initialize (&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
