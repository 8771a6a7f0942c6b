#include "EditorSnapshot.h"

#include "PluginEditor.h"

namespace kestrine
{
    namespace
    {
        bool writePng (const juce::Image& image, const juce::File& pngFile)
        {
            if (! image.isValid() || pngFile.getParentDirectory().createDirectory().failed())
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
    }

    juce::Image renderEditor (CompressorAudioProcessorEditor& editor)
    {
        return editor.createComponentSnapshot (editor.getLocalBounds(), true, 1.0f);
    }

    juce::Image renderEditor (CompressorAudioProcessor& processor)
    {
        CompressorAudioProcessorEditor editor (processor);
        return renderEditor (editor);
    }

    bool writeEditorSnapshot (CompressorAudioProcessorEditor& editor, const juce::File& pngFile)
    {
        return writePng (renderEditor (editor), pngFile);
    }

    bool writeEditorSnapshot (CompressorAudioProcessor& processor, const juce::File& pngFile)
    {
        return writePng (renderEditor (processor), pngFile);
    }
}
