#pragma once

#include <juce_graphics/juce_graphics.h>

class CompressorAudioProcessor;
class CompressorAudioProcessorEditor;

namespace kestrine
{
    /** An editor as a user sees it, painted once with its children into an image offscreen. It
        need not be on the desktop, so no display is needed. Message thread only. */
    juce::Image renderEditor (CompressorAudioProcessorEditor& editor);

    /** The processor's editor as a user would see it: a new editor is made for the processor,
        rendered and closed again. Message thread only. */
    juce::Image renderEditor (CompressorAudioProcessor& processor);

    /** Writes renderEditor's image as a PNG file, creating its folder if needed. The picture is
        written to a temporary file beside the target, which replaces the target only once the
        picture is complete, so a failure never leaves a partial file. Returns false when the
        file could not be written. Message thread only. */
    bool writeEditorSnapshot (CompressorAudioProcessorEditor& editor, const juce::File& pngFile);

    /** As above, for a new editor made for the processor and closed again. */
    bool writeEditorSnapshot (CompressorAudioProcessor& processor, const juce::File& pngFile);
}
