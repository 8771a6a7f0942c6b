#include "EditorPicture.h"
#include "RenderSession.h"

#include "PluginEditor.h"

namespace kestrine::render
{
    namespace
    {
        constexpr int pictureBlockSize = 512;

        void applySettings (CompressorAudioProcessor& processor, const std::vector<ParameterSetting>& settings)
        {
            for (const auto& setting : settings)
                if (auto* parameter = processor.parameters.getParameter (setting.identifier))
                    parameter->setValueNotifyingHost (parameter->convertTo0to1 (setting.valueText.getFloatValue()));
        }
    }

    juce::File writeEditorPicture (const juce::File& outputFolder, const RenderOptions& demoRender)
    {
        juce::AudioBuffer<float> audio;
        double sampleRate = 0.0;

        if (readAudioFile (demoRender.input, audio, sampleRate).failed() || audio.getNumChannels() != 2)
            return {};

        // The editor as a user sees it after the demo has played through the plug-in: the same
        // processor code, settings and audio, with the window open while the audio runs so
        // that it shows the last captured cycle.
        CompressorAudioProcessor processor;
        applySettings (processor, demoRender.settings);
        processor.prepareToPlay (sampleRate, pictureBlockSize);

        CompressorAudioProcessorEditor editor (processor);
        juce::MidiBuffer midi;

        for (int start = 0; start + pictureBlockSize <= audio.getNumSamples(); start += pictureBlockSize)
        {
            juce::AudioBuffer<float> block (audio.getArrayOfWritePointers(), 2, start, pictureBlockSize);
            processor.processBlock (block, midi);
        }

        // Let the editor's timer see the processed blocks, as it would while audio flows.
        juce::MessageManager::getInstance()->runDispatchLoopUntil (100);

        const auto image = editor.createComponentSnapshot (editor.getLocalBounds(), true, 1.0f);
        const auto file = outputFolder.getChildFile ("editor.png");
        file.deleteFile();

        juce::FileOutputStream stream (file);

        if (! image.isValid() || ! stream.openedOk() || ! juce::PNGImageFormat().writeImageToStream (image, stream))
            return {};

        stream.flush();
        return stream.getStatus().wasOk() ? file : juce::File();
    }
}
