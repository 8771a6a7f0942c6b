#include "EditorSnapshot.h"

#include "PluginEditor.h"

namespace kestrine
{
    juce::Image renderEditor (CompressorAudioProcessorEditor& editor, float scale)
    {
        return editor.createComponentSnapshot (editor.getLocalBounds(), true, scale);
    }

    juce::Image renderEditor (CompressorAudioProcessor& processor, float scale, const std::function<void()>& whileOpen)
    {
        CompressorAudioProcessorEditor editor (processor, CompressorAudioProcessorEditor::VersionCheck::skip);

        if (whileOpen)
            whileOpen();

        return renderEditor (editor, scale);
    }

    bool writePng (const juce::Image& image, const juce::File& pngFile)
    {
        if (! image.isValid() || pngFile.isDirectory() || pngFile.getParentDirectory().createDirectory().failed())
            return false;

        const juce::TemporaryFile temporary (pngFile, juce::TemporaryFile::useHiddenFile);

        {
            juce::FileOutputStream stream (temporary.getFile());

            if (! stream.openedOk() || ! juce::PNGImageFormat().writeImageToStream (image, stream))
                return false;

            stream.flush();

            if (stream.getStatus().failed())
                return false;
        }

        return temporary.overwriteTargetFileWithTemporary();
    }

    bool writeEditorSnapshot (CompressorAudioProcessor& processor, const juce::File& pngFile)
    {
        return writePng (renderEditor (processor), pngFile);
    }
}
