#include "DemoInput.h"

#include <array>
#include <cmath>
#include <complex>
#include <vector>

namespace kestrine::render
{
    namespace
    {
        constexpr double releaseSeconds = 0.6;
        constexpr double strumSeconds = 0.018;     // delay between the notes of a chord
        constexpr double attackSeconds = 0.003;    // takes the click out of each pluck
        constexpr double decaySeconds = 0.9;       // of the fundamental; overtones die faster
        constexpr double dampSeconds = 0.08;       // a note is damped as the next chord comes in
        constexpr double highestPartialHz = 6000.0;
        constexpr float demoPeak = 0.5f;

        constexpr int notesPerChord = 4;
        using Chord = std::array<double, notesPerChord>;

        // A minor, F major, C major, G major, low voicings (Hz).
        constexpr std::array<Chord, 4> progression { {
            { 110.00, 164.81, 220.00, 261.63 },
            {  87.31, 130.81, 174.61, 220.00 },
            { 130.81, 196.00, 261.63, 329.63 },
            {  98.00, 146.83, 196.00, 246.94 },
        } };

        /** One plucked sawtooth note from start to end: partial k at 1/k, each decaying faster
            than the one below, damped over the last dampSeconds. Each partial is a rotating,
            shrinking phasor, so a sample costs one complex product per partial. */
        void addNote (juce::AudioBuffer<float>& out, double frequency, int start, int end, float leftGain, float rightGain)
        {
            const auto partials = static_cast<size_t> (highestPartialHz / frequency);
            std::vector<std::complex<double>> phasor (partials), rotation (partials);

            for (size_t k = 0; k < partials; ++k)
            {
                const auto number = static_cast<double> (k + 1);
                phasor[k] = 1.0 / number;
                rotation[k] = std::polar (std::exp (-(1.0 + 0.6 * static_cast<double> (k)) / (decaySeconds * demoSampleRate)),
                                          juce::MathConstants<double>::twoPi * number * frequency / demoSampleRate);
            }

            const auto attackSamples = attackSeconds * demoSampleRate;
            const auto dampSamples = dampSeconds * demoSampleRate;
            end = juce::jmin (end, out.getNumSamples());

            for (int i = start; i < end; ++i)
            {
                double value = 0.0;

                for (size_t k = 0; k < partials; ++k)
                {
                    value += phasor[k].imag();
                    phasor[k] *= rotation[k];
                }

                const auto attack = juce::jmin (1.0, (i - start) / attackSamples);
                const auto damping = juce::jlimit (0.0, 1.0, (end - i) / dampSamples);
                const auto sample = static_cast<float> (value * attack * damping);
                out.addSample (0, i, sample * leftGain);
                out.addSample (1, i, sample * rightGain);
            }
        }
    }

    juce::AudioBuffer<float> makeDemoInput()
    {
        const auto chordLength = static_cast<int> (demoChordSeconds * demoSampleRate);
        const auto total = juce::roundToInt ((demoChordSeconds * static_cast<double> (progression.size()) + releaseSeconds) * demoSampleRate);

        juce::AudioBuffer<float> out (2, total);
        out.clear();

        for (size_t c = 0; c < progression.size(); ++c)
        {
            for (int n = 0; n < notesPerChord; ++n)
            {
                // Spread the notes across the stereo field, low on the left.
                const auto pan = (static_cast<float> (n) / (notesPerChord - 1) - 0.5f) * 0.6f;
                const auto start = static_cast<int> (c) * chordLength + static_cast<int> (n * strumSeconds * demoSampleRate);
                const auto isLast = c + 1 == progression.size();
                const auto end = isLast ? total : static_cast<int> (c + 1) * chordLength + static_cast<int> (dampSeconds * demoSampleRate);
                addNote (out, progression[c][static_cast<size_t> (n)], start, end, 0.5f - pan, 0.5f + pan);
            }
        }

        const auto peak = out.getMagnitude (0, total);

        if (peak > 0.0f)
            out.applyGain (demoPeak / peak);

        return out;
    }

    void playThrough (juce::AudioProcessor& processor, juce::AudioBuffer<float>& audio, int length, int blockSize)
    {
        juce::MidiBuffer midi;
        const auto end = juce::jmin (length, audio.getNumSamples());

        for (int start = 0; start + blockSize <= end; start += blockSize)
        {
            juce::AudioBuffer<float> block (audio.getArrayOfWritePointers(), audio.getNumChannels(), start, blockSize);
            processor.processBlock (block, midi);
        }
    }
}
