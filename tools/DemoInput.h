#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace kestrine::render
{
    constexpr double demoSampleRate = 48000.0;
    constexpr double demoChordSeconds = 1.2;   // each chord of the demo input lasts this long

    /** The demo input: four strummed chords of plucked, band-limited sawtooth notes, stereo,
        48 kHz, about five seconds, peaking at 0.5. */
    juce::AudioBuffer<float> makeDemoInput();

    /** Runs the first length samples of the audio through the processor, in place, in blocks
        of blockSize samples; a last block shorter than that is left out. The processor must be
        prepared for the block size. */
    void playThrough (juce::AudioProcessor& processor, juce::AudioBuffer<float>& audio, int length, int blockSize);
}
