// processBlock in nanoseconds per stereo sample, 512-sample blocks, beside a floor: the same
// per-sample path without cycle capture (ring write, shaping, delay and mix), run in turns with
// the engine on the same blocks. The engine's benchmarks report the floor ("floor_ns"), their
// ratio to it ("x_floor") and their share of one core for stereo at the signal's sample rate
// ("core_pct"). The editor's benchmarks give the message thread's time for one full paint and
// for one timer tick, in ms per frame.

#include "PluginEditor.h"
#include "PluginProcessor.h"
#include "engine/Shaping.h"

#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace
{
    constexpr int blockSize = 512;
    constexpr double sampleRate = 48000.0;
    constexpr int signalLength = 4 * 48000;
    constexpr double twoPi = 6.283185307179586;

    using Samples = std::vector<float>;   // mono; both channels get it

    struct Signal
    {
        Samples samples;
        double rate = sampleRate;
    };

    Samples sine (double period)
    {
        Samples s (signalLength);
        for (size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<float> (0.8 * std::sin (twoPi * (static_cast<double> (i) + 0.25) / period));
        return s;
    }

    // Plateaus: +0.6 for half the period, -0.6 for the other half.
    Samples square (int period)
    {
        Samples s (signalLength);
        for (size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<int> (i) % period < period / 2 ? 0.6f : -0.6f;
        return s;
    }

    Samples whiteNoise()
    {
        std::mt19937 random (7);
        std::uniform_real_distribution<float> uniform (-0.7f, 0.7f);
        Samples s (signalLength);
        for (auto& v : s)
            v = uniform (random);
        return s;
    }

    // White noise through a fourth-order low-pass at 20 kHz, as a 96 kHz recording of noise holds it.
    Samples audioBandNoise()
    {
        std::mt19937 random (9);
        std::normal_distribution<double> gauss (0.0, 0.5);
        const double a = std::exp (-twoPi * 20000.0 / 96000.0);
        std::array<double, 4> stage {};
        Samples s (signalLength);

        for (auto& v : s)
        {
            double x = gauss (random);
            for (auto& y : stage)
                x = y = (1.0 - a) * x + a * y;
            v = static_cast<float> (2.0 * x);
        }
        return s;
    }

    // The hardest input for the analysis: pulses whose halves balance exactly at the limit at
    // every upward crossing (11 samples of 0.5, 9 of -0.5 and one tiny negative one, which the
    // sums before a crossing leave out), so that no error bound can decide the balance and the
    // single-precision sums are taken over the whole window at every crossing.
    Samples balancedAtTheLimit()
    {
        Samples s (signalLength);
        for (size_t i = 0; i < s.size(); ++i)
        {
            const auto phase = i % 21;
            s[i] = phase < 11 ? 0.5f : phase < 20 ? -0.5f : -1.0e-20f;
        }
        return s;
    }

    // A sawtooth chord (A minor) struck every second, each strike decaying and darkening.
    Samples pluckedChord()
    {
        constexpr std::array<double, 3> frequencies { 220.0, 261.63, 329.63 };
        Samples s (signalLength);
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
            { "silence", { Samples (signalLength, 0.0f) } },
            { "sine100", { sine (100.0) } },
            { "sine12", { sine (12.0) } },
            { "sine1599", { sine (1599.0) } },
            { "square64", { square (64) } },
            { "noise", { whiteNoise() } },
            { "noise96k", { audioBandNoise(), 96000.0 } },
            { "chord", { pluckedChord() } },
            { "worst", { balancedAtTheLimit() } },
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

    /** CPU time of the calling thread: the ratios and core shares stay meaningful on a busy
        machine, where wall-clock time also counts other programs. */
    double threadCpuNanoseconds() noexcept
    {
        timespec now {};
        clock_gettime (CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double> (now.tv_sec) * 1.0e9 + static_cast<double> (now.tv_nsec);
    }

    /** Copies the next block of the signal into both channels of the buffer. */
    void nextBlock (juce::AudioBuffer<float>& buffer, const Samples& signal, size_t& cursor)
    {
        if (cursor + blockSize > signal.size())
            cursor = 0;
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            buffer.copyFrom (c, 0, signal.data() + cursor, blockSize);
        cursor += blockSize;
    }

    /** A processor with three audible bumps and some distortion. */
    void prepare (CompressorAudioProcessor& processor, double rate)
    {
        processor.prepareToPlay (rate, blockSize);
        for (size_t k = 0; k < kestrine::numBumps; ++k)
            processor.bumps[k].amplitude = k == 1 ? -0.3f : 0.4f;
        processor.distortion.current = processor.distortion.target = 0.3f;
        processor.updateParameters (false);
    }

    /** Takes the newest display views every 16 ms on a thread of its own, as an open editor's
        timer does on the message thread. */
    class ViewReader
    {
    public:
        explicit ViewReader (CompressorAudioProcessor& p)
            : thread ([this, &p]
                      {
                          while (! stop.load())
                          {
                              benchmark::DoNotOptimize (p.latestDisplayViews().sampleView[0]);
                              std::this_thread::sleep_for (std::chrono::milliseconds (16));
                          }
                      })
        {
        }

        ~ViewReader()
        {
            stop = true;
            thread.join();
        }

    private:
        std::atomic<bool> stop { false };
        std::thread thread;
    };

    /** processBlock beside the floor on the same blocks, in turns of a few blocks each, so that
        both see the same machine (it is shared, and its load drifts). Reports ns per stereo
        sample of thread CPU time for the engine ("per_sample") and the floor ("floor_ns"). */
    void engine (benchmark::State& state, const std::string& name, bool editorOpen)
    {
        constexpr int blocksPerTurn = 8;
        const auto& signal = signalNamed (name);
        CompressorAudioProcessor processor;
        prepare (processor, signal.rate);
        std::unique_ptr<ViewReader> reader;
        if (editorOpen)
            reader = std::make_unique<ViewReader> (processor);

        Floor floor;
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        size_t engineCursor = 0, floorCursor = 0;
        double engineNs = 0.0, floorNs = 0.0;
        std::int64_t samples = 0;

        for (auto _ : state)
        {
            auto start = threadCpuNanoseconds();
            for (int b = 0; b < blocksPerTurn; ++b)
            {
                nextBlock (buffer, signal.samples, floorCursor);
                const juce::ScopedNoDenormals noDenormals;
                floor.process (buffer.getWritePointer (0), buffer.getWritePointer (1), blockSize);
                benchmark::DoNotOptimize (buffer.getReadPointer (0));
            }
            floorNs += threadCpuNanoseconds() - start;

            start = threadCpuNanoseconds();
            for (int b = 0; b < blocksPerTurn; ++b)
            {
                nextBlock (buffer, signal.samples, engineCursor);
                processor.processBlock (buffer, midi);
                benchmark::DoNotOptimize (buffer.getReadPointer (0));
            }
            engineNs += threadCpuNanoseconds() - start;
            samples += blocksPerTurn * blockSize;
        }

        const double ns = engineNs / static_cast<double> (std::max<std::int64_t> (samples, 1));
        const double floorPerSample = floorNs / static_cast<double> (std::max<std::int64_t> (samples, 1));
        state.SetItemsProcessed (samples);
        state.counters["per_sample"] = ns;
        state.counters["floor_ns"] = floorPerSample;
        state.counters["x_floor"] = floorPerSample > 0.0 ? ns / floorPerSample : 0.0;
        state.counters["core_pct"] = ns * signal.rate * 1.0e-9 * 100.0;
    }

    /** An editor over a processor that has run the chords with two bumps set; each frame is
        preceded by a block of audio, as while the transport runs. Reports ms per frame of
        message-thread CPU time for the part that frame() does. */
    template <typename Frame>
    void editorFrames (benchmark::State& state, Frame&& frame)
    {
        CompressorAudioProcessor processor;
        prepare (processor, sampleRate);

        for (const auto* id : { "amplitude1", "amplitude3" })
        {
            auto* parameter = processor.parameters.getParameter (id);
            parameter->setValueNotifyingHost (parameter->convertTo0to1 (std::string (id) == "amplitude1" ? 0.3f : -0.25f));
        }

        CompressorAudioProcessorEditor editor (processor);

        // The framework's splash fades out after its first seconds on screen, which needs a
        // message loop that this benchmark does not run: frames are timed without it.
        for (auto* child : editor.getChildren())
            if (auto* splash = dynamic_cast<juce::JUCESplashScreen*> (child))
            {
                delete splash;
                break;
            }

        const auto& signal = signalNamed ("chord").samples;
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        size_t cursor = 0;

        for (int i = 0; i < 200; ++i)
        {
            nextBlock (buffer, signal, cursor);
            processor.processBlock (buffer, midi);
        }

        juce::Image image (juce::Image::ARGB, editor.getWidth(), editor.getHeight(), true);
        double spentNs = 0.0;
        std::int64_t frames = 0;

        for (auto _ : state)
        {
            nextBlock (buffer, signal, cursor);
            processor.processBlock (buffer, midi);

            const auto start = threadCpuNanoseconds();
            frame (editor, image);
            spentNs += threadCpuNanoseconds() - start;
            ++frames;
        }

        state.counters["ms_per_frame"] = spentNs / static_cast<double> (std::max<std::int64_t> (frames, 1)) * 1.0e-6;
    }

    void editorPaint (benchmark::State& state)
    {
        editorFrames (state, [] (CompressorAudioProcessorEditor& editor, juce::Image& image)
        {
            juce::Graphics g (image);
            editor.paintEntireComponent (g, true);
        });
    }

    void editorTick (benchmark::State& state)
    {
        // The timer's tick and the painting of the area it asks to repaint, with the children
        // that overlap it, as the window's peer does.
        editorFrames (state, [] (CompressorAudioProcessorEditor& editor, juce::Image& image)
        {
            editor.timerCallback();
            juce::Graphics g (image);
            g.reduceClipRegion (editor.displayArea());
            editor.paintEntireComponent (g, true);
        });
    }

    int registerAll()
    {
        for (const char* name : { "silence", "sine100", "sine12", "sine1599", "square64", "noise", "noise96k", "chord", "worst" })
        {
            benchmark::RegisterBenchmark ((std::string ("processBlock/") + name).c_str(), engine, std::string (name), false);
            benchmark::RegisterBenchmark ((std::string ("processBlock/") + name + "/editorOpen").c_str(), engine, std::string (name), true);
        }

        benchmark::RegisterBenchmark ("editor/paint", editorPaint)->Unit (benchmark::kMillisecond);
        benchmark::RegisterBenchmark ("editor/tick", editorTick)->Unit (benchmark::kMillisecond);
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
