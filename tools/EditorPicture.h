#pragma once

#include "RenderOptions.h"

namespace kestrine::render
{
    /** Hook for a picture of the plug-in's editor in the demo folder. The demo calls it once
        input.wav, output.wav and waveforms.png are written, with that folder and the options it
        rendered with (bundle, settings). Returns the file it wrote, or a default File when it
        wrote none; a failure must not fail the demo. No editor picture is drawn yet. */
    juce::File writeEditorPicture (const juce::File& outputFolder, const RenderOptions& demoRender);
}
