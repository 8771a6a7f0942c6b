#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

namespace kestrine::test
{
    /** Path of the Kestrine.vst3 bundle built with the tests. */
    inline juce::File builtBundle()
    {
        return juce::File (KESTRINE_BUNDLE_PATH);
    }

    /** Loads the built bundle through JUCE's VST3 hosting, as a DAW would. */
    inline std::unique_ptr<juce::AudioPluginInstance> loadBuiltPlugin (double sampleRate = 48000.0, int blockSize = 512)
    {
        juce::VST3PluginFormat format;
        juce::OwnedArray<juce::PluginDescription> found;
        format.findAllTypesForFile (found, builtBundle().getFullPathName());

        if (found.isEmpty())
            return nullptr;

        juce::String error;
        return format.createInstanceFromDescription (*found.getFirst(), sampleRate, blockSize, error);
    }
}
