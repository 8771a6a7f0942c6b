#pragma once

#include "RenderOptions.h"

namespace kestrine::render
{
    /** Writes editor.png into the demo folder: the plug-in's editor, rendered offscreen after
        the demo input (demoRender.input) has run through the processor with the demo's
        settings. Returns the file it wrote, or a default File when it wrote none; a failure
        does not fail the demo. Message thread only. */
    juce::File writeEditorPicture (const juce::File& outputFolder, const RenderOptions& demoRender);
}
