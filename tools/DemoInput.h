#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

namespace kestrine::render
{
    constexpr double demoSampleRate = 48000.0;
    constexpr double demoChordSeconds = 1.2;   // each chord of the demo input lasts this long

    /** The demo input: four strummed chords of plucked, band-limited sawtooth notes, stereo,
        48 kHz, about five seconds, peaking at 0.5. */
    juce::AudioBuffer<float> makeDemoInput();
}
