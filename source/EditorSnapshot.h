#pragma once

#include <juce_graphics/juce_graphics.h>

class CompressorAudioProcessor;

namespace kestrine
{
    /** The processor's editor as a user would see it, rendered offscreen: a new editor is made
        for the processor, painted once with its children into an image and closed again. It
        never appears on the desktop, so no display is needed. Message thread only. */
    juce::Image renderEditor (CompressorAudioProcessor& processor);

    /** Writes renderEditor's image as a PNG file, replacing the file if it exists. Returns
        false when the file could not be written. Message thread only. */
    bool writeEditorSnapshot (CompressorAudioProcessor& processor, const juce::File& pngFile);
}
