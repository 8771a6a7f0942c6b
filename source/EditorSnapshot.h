#pragma once

#include <juce_graphics/juce_graphics.h>

#include <functional>

class CompressorAudioProcessor;

namespace kestrine
{
    /** The processor's editor as a user would see it, rendered offscreen: a new editor is made
        for the processor, whileOpen (if given) runs while it is open, for example to play
        audio through the processor so that the display shows a captured cycle, and the editor
        is then painted once with its children into an image at the given scale (2 for a
        high-density screen) and closed again. It never appears on the desktop, so no display
        is needed, and it sends no version request. Message thread only. */
    juce::Image renderEditor (CompressorAudioProcessor& processor, float scale = 1.0f,
                              const std::function<void()>& whileOpen = {});

    /** Writes an image as a PNG file through a temporary file beside it, which replaces the
        target only once it is complete, creating the folder if needed. Returns false when the
        file could not be written; the target is then left as it was. */
    bool writePng (const juce::Image& image, const juce::File& pngFile);

    /** Writes renderEditor's image (1x) as a PNG file, replacing the file if it exists.
        Returns false when the file could not be written. Message thread only. */
    bool writeEditorSnapshot (CompressorAudioProcessor& processor, const juce::File& pngFile);
}
