#include "EditorSnapshot.h"

#include "PluginEditor.h"

namespace kestrine
{
    juce::Image renderEditor (CompressorAudioProcessor& processor)
    {
        CompressorAudioProcessorEditor editor (processor);
        return editor.createComponentSnapshot (editor.getLocalBounds(), true, 1.0f);
    }

    bool writeEditorSnapshot (CompressorAudioProcessor& processor, const juce::File& pngFile)
    {
        const auto image = renderEditor (processor);

        if (! image.isValid() || pngFile.getParentDirectory().createDirectory().failed() || ! pngFile.deleteFile())
            return false;

        juce::FileOutputStream stream (pngFile);

        if (! stream.openedOk() || ! juce::PNGImageFormat().writeImageToStream (image, stream))
            return false;

        stream.flush();
        return ! stream.getStatus().failed();
    }
}
