#pragma once

#include <juce_graphics/juce_graphics.h>

#include <functional>

class CompressorAudioProcessor;
class CompressorAudioProcessorEditor;

namespace kestrine
{
    /** An editor as a user sees it, painted once with its children into an image offscreen at
        the given scale (2 for a high-density screen). It need not be on the desktop, so no
        display is needed. Message thread only. */
    juce::Image renderEditor (CompressorAudioProcessorEditor& editor, float scale = 1.0f);

    /** The processor's editor as a user would see it: a new editor is made for the processor
        without a version check (so no request goes out), whileOpen (if given) runs while it is
        open, for example to play audio through the processor so that the display shows a
        captured cycle, and the editor is then rendered and closed again. Message thread only. */
    juce::Image renderEditor (CompressorAudioProcessor& processor, float scale = 1.0f,
                              const std::function<void()>& whileOpen = {});

    /** Writes an image as a PNG file, creating its folder if needed. The picture is written to a
        temporary file beside the target, which replaces the target only once the picture is
        complete, so a failure never leaves a partial file and keeps the target as it was.
        Returns false when the file could not be written. */
    bool writePng (const juce::Image& image, const juce::File& pngFile);

    /** Writes the image of a new editor made for the processor and closed again (1x) as a PNG
        file, as writePng does. Message thread only. */
    bool writeEditorSnapshot (CompressorAudioProcessor& processor, const juce::File& pngFile);
}
