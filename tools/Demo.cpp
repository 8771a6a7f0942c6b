#include "Demo.h"

#include "EditorSnapshot.h"
#include "ToolFiles.h"
#include "PluginProcessor.h"

#include <cmath>

namespace kestrine::render
{
    namespace
    {
        constexpr int pictureBlockSize = 512;
        constexpr int editorSettleMs = 100;        // for the editor's timer to see the processed blocks

        juce::Path tracePath (const juce::AudioBuffer<float>& samples, int first, int length,
                              juce::Rectangle<float> area, float unitHeight)
        {
            juce::Path path;
            const auto* data = samples.getReadPointer (0);
            const auto step = area.getWidth() / static_cast<float> (juce::jmax (1, length - 1));

            for (int i = 0; i < length; ++i)
            {
                const auto index = first + i;
                const auto value = index < samples.getNumSamples() ? data[index] : 0.0f;
                const juce::Point<float> point { area.getX() + static_cast<float> (i) * step,
                                                 area.getCentreY() - juce::jlimit (-1.2f, 1.2f, value) * unitHeight };

                if (i == 0)
                    path.startNewSubPath (point);
                else
                    path.lineTo (point);
            }

            return path;
        }

        void drawPanel (juce::Graphics& g, juce::Rectangle<float> area, const juce::String& title, float unitHeight,
                        double startMs, double lengthMs)
        {
            g.setColour (juce::Colour (0xff161c24));
            g.fillRoundedRectangle (area, 6.0f);

            g.setColour (juce::Colour (0xff2c3644));
            for (const auto level : { -0.5f, 0.5f })
                g.drawHorizontalLine (juce::roundToInt (area.getCentreY() - level * unitHeight), area.getX(), area.getRight());

            for (int tick = 0; tick <= 10; ++tick)
                g.drawVerticalLine (juce::roundToInt (area.getX() + area.getWidth() * static_cast<float> (tick) / 10.0f), area.getY(), area.getBottom());

            g.setColour (juce::Colour (0xff4a5a70));
            g.drawHorizontalLine (juce::roundToInt (area.getCentreY()), area.getX(), area.getRight());

            g.setColour (juce::Colours::white.withAlpha (0.85f));
            g.setFont (18.0f);
            g.drawText (title, area.reduced (12.0f, 8.0f), juce::Justification::topLeft);

            g.setColour (juce::Colours::white.withAlpha (0.5f));
            g.setFont (13.0f);
            g.drawText (juce::String (startMs, 1) + " ms", area.reduced (8.0f, 4.0f), juce::Justification::bottomLeft);
            g.drawText (juce::String (startMs + lengthMs, 1) + " ms", area.reduced (8.0f, 4.0f), juce::Justification::bottomRight);
            g.drawText ("+0.5", area.withHeight (unitHeight).reduced (8.0f, 0.0f).translated (0.0f, area.getHeight() / 2 - unitHeight * 0.5f - 8.0f),
                        juce::Justification::topRight);
        }

        /** Writes editor.png into the demo folder: the plug-in's editor after the demo input
            has run through the processor with the demo's settings, the window open while the
            audio runs so that it shows the last captured cycle, as a user would see it. Returns
            the file it wrote, or a default File when it wrote none; a failure does not fail
            the demo. Message thread only. */
        juce::File writeEditorPicture (const juce::File& outputFolder, const RenderOptions& demoRender)
        {
            juce::AudioBuffer<float> audio;
            double sampleRate = 0.0;

            if (readAudioFile (demoRender.input, audio, sampleRate).failed() || audio.getNumChannels() != 2)
                return {};

            CompressorAudioProcessor processor;

            for (const auto& setting : demoRender.settings)
                if (auto* parameter = processor.parameters.getParameter (setting.identifier))
                    parameter->setValueNotifyingHost (parameter->convertTo0to1 (setting.valueText.getFloatValue()));

            processor.prepareToPlay (sampleRate, pictureBlockSize);

            // The editor is made without a version check: a picture asks the maker's site for nothing.
            const auto image = renderEditor (processor, 1.0f, [&]
            {
                playThrough (processor, audio, audio.getNumSamples(), pictureBlockSize);
                juce::MessageManager::getInstance()->runDispatchLoopUntil (editorSettleMs);
            });

            const auto file = outputFolder.getChildFile ("editor.png");
            return writePng (image, file) ? file : juce::File();
        }

        juce::String settingsText (const std::vector<ParameterSetting>& settings)
        {
            juce::StringArray parts;

            for (const auto& s : settings)
                parts.add (s.identifier + "=" + s.valueText);

            return parts.joinIntoString ("  ");
        }
    }

    namespace
    {
        juce::Result writePngFile (const juce::File& file, const juce::Image& image)
        {
            return writePng (image, file) ? juce::Result::ok() : juce::Result::fail ("cannot write " + file.getFullPathName());
        }

        /** Renders the demo input through every factory preset into presets/ and draws the
            contact sheet of them. */
        juce::Result renderPresets (const RenderOptions& options, const juce::File& inputFile,
                                    const juce::AudioBuffer<float>& input, int first, int length, DemoSummary& summary)
        {
            const auto presets = listPresets (options.factoryPresets);

            if (presets.empty())
                return juce::Result::fail ("no factory presets in " + options.factoryPresets.getFullPathName());

            const auto folder = summary.folder.getChildFile ("presets");

            if (const auto created = folder.createDirectory(); created.failed())
                return juce::Result::fail ("cannot create folder " + folder.getFullPathName() + ": " + created.getErrorMessage());

            std::vector<PresetRendering> renderings;
            juce::StringArray written;

            for (const auto& preset : presets)
            {
                RenderOptions render;
                render.input = inputFile;
                render.output = folder.getChildFile (preset.file.getFileNameWithoutExtension() + ".wav");
                render.bundle = options.bundle;
                render.pluginFormat = options.pluginFormat;
                render.blockSize = options.blockSize;
                render.preset = preset.file.getFullPathName();

                RenderSummary rendered;

                if (const auto r = run (render, rendered); r.failed())
                    return r;

                PresetRendering rendering { preset.name, preset.category, {} };
                double rate = 0.0;

                if (const auto r = readAudioFile (render.output, rendering.output, rate); r.failed())
                    return r;

                renderings.push_back (std::move (rendering));
                written.add (render.output.getFileName());
            }

            // Renderings of presets that are gone would mislead: the folder holds this run's only.
            deleteFilesNotIn (folder, "*.wav", written);

            const auto sheetFile = summary.folder.getChildFile ("presets.png");

            if (const auto r = writePngFile (sheetFile, drawPresetSheet (input, renderings, demoSampleRate, first, length)); r.failed())
                return r;

            summary.written.add ("presets/       the input rendered through each of the " + juce::String (presets.size())
                                 + " factory presets, one WAV per preset");
            summary.written.add ("presets.png    30 ms of input and output for each factory preset, one small panel each");
            return juce::Result::ok();
        }
    }

    std::vector<ParameterSetting> demoSettings()
    {
        return {
            { "amplitude1", "0.45" }, { "frequency1", "160" }, { "wavelength1", "60" },
            { "amplitude2", "-0.4" }, { "frequency2", "420" }, { "wavelength2", "90" },
            { "amplitude3", "0.35" }, { "frequency3", "640" }, { "wavelength3", "40" },
            { "velocity", "0.2" }, { "distortion", "0.6" }, { "drywet", "1" },
        };
    }

    juce::Image drawWaveforms (const juce::AudioBuffer<float>& input, const juce::AudioBuffer<float>& output,
                               double sampleRate, int first, int length, const juce::String& caption)
    {
        constexpr int width = 1600, height = 1000;
        constexpr float margin = 24.0f, titleHeight = 56.0f, captionHeight = 40.0f, gap = 16.0f;

        juce::Image image (juce::Image::ARGB, width, height, true);
        juce::Graphics g (image);
        g.fillAll (juce::Colour (0xff0c1015));

        auto area = juce::Rectangle<float> (0.0f, 0.0f, width, height).reduced (margin);
        g.setColour (juce::Colours::white);
        g.setFont (26.0f);
        g.drawText ("Kestrine: input and output waveforms (left channel)", area.removeFromTop (titleHeight),
                    juce::Justification::centredLeft);

        g.setColour (juce::Colours::white.withAlpha (0.6f));
        g.setFont (14.0f);
        g.drawFittedText (caption, area.removeFromBottom (captionHeight).toNearestInt(), juce::Justification::centredLeft, 2);

        const auto panelHeight = (area.getHeight() - 2.0f * gap) / 3.0f;
        const auto unitHeight = panelHeight * 0.4f;
        const auto startMs = 1000.0 * first / sampleRate;
        const auto lengthMs = 1000.0 * (length - 1) / sampleRate;
        const auto inputColour = juce::Colour (0xff7fb8ff);
        const auto outputColour = juce::Colour (0xffffa24a);
        const juce::PathStrokeType stroke (2.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);

        const auto inputArea = area.removeFromTop (panelHeight);
        area.removeFromTop (gap);
        const auto outputArea = area.removeFromTop (panelHeight);
        area.removeFromTop (gap);
        const auto overlayArea = area;

        drawPanel (g, inputArea, "input.wav", unitHeight, startMs, lengthMs);
        g.setColour (inputColour);
        g.strokePath (tracePath (input, first, length, inputArea, unitHeight), stroke);

        drawPanel (g, outputArea, "output.wav (through Kestrine.vst3, latency compensated)", unitHeight, startMs, lengthMs);
        g.setColour (outputColour);
        g.strokePath (tracePath (output, first, length, outputArea, unitHeight), stroke);

        drawPanel (g, overlayArea, "both", unitHeight, startMs, lengthMs);
        g.setColour (inputColour.withAlpha (0.8f));
        g.strokePath (tracePath (input, first, length, overlayArea, unitHeight), stroke);
        g.setColour (outputColour.withAlpha (0.8f));
        g.strokePath (tracePath (output, first, length, overlayArea, unitHeight), stroke);

        return image;
    }

    juce::Image drawPresetSheet (const juce::AudioBuffer<float>& input, const std::vector<PresetRendering>& presets,
                                 double sampleRate, int first, int length)
    {
        constexpr int columns = 2, width = 1600, panelHeight = 220;
        constexpr float margin = 24.0f, titleHeight = 56.0f, gap = 16.0f, labelHeight = 26.0f;

        const auto rows = juce::jmax (1, (static_cast<int> (presets.size()) + columns - 1) / columns);
        const auto height = static_cast<int> (2.0f * margin + titleHeight + static_cast<float> (rows) * (panelHeight + gap));

        juce::Image image (juce::Image::ARGB, width, height, true);
        juce::Graphics g (image);
        g.fillAll (juce::Colour (0xff0c1015));

        auto area = juce::Rectangle<float> (0.0f, 0.0f, static_cast<float> (width), static_cast<float> (height)).reduced (margin);
        g.setColour (juce::Colours::white);
        g.setFont (26.0f);
        g.drawText ("Kestrine factory presets: input (blue) and output (orange), left channel, "
                        + juce::String (1000.0 * length / sampleRate, 0) + " ms",
                    area.removeFromTop (titleHeight), juce::Justification::centredLeft);

        const auto panelWidth = (area.getWidth() - gap * (columns - 1)) / columns;
        const auto startMs = 1000.0 * first / sampleRate;
        const auto lengthMs = 1000.0 * (length - 1) / sampleRate;
        const juce::PathStrokeType stroke (1.5f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);

        for (size_t i = 0; i < presets.size(); ++i)
        {
            const auto column = static_cast<float> (static_cast<int> (i) % columns);
            const auto row = static_cast<float> (static_cast<int> (i) / columns);
            const juce::Rectangle<float> panel { area.getX() + column * (panelWidth + gap), area.getY() + row * (panelHeight + gap),
                                                 panelWidth, static_cast<float> (panelHeight) };
            const auto waves = panel.withTrimmedTop (labelHeight);
            const auto unitHeight = waves.getHeight() * 0.4f;
            const auto& preset = presets[i];

            drawPanel (g, waves, {}, unitHeight, startMs, lengthMs);
            g.setColour (juce::Colours::white.withAlpha (0.9f));
            g.setFont (18.0f);
            g.drawText (preset.name + (preset.category.isNotEmpty() ? "   " + preset.category : juce::String()),
                        panel.withHeight (labelHeight).reduced (4.0f, 0.0f), juce::Justification::centredLeft);

            g.setColour (juce::Colour (0xff7fb8ff).withAlpha (0.8f));
            g.strokePath (tracePath (input, first, length, waves, unitHeight), stroke);
            g.setColour (juce::Colour (0xffffa24a).withAlpha (0.9f));
            g.strokePath (tracePath (preset.output, first, length, waves, unitHeight), stroke);
        }

        return image;
    }

    juce::Result runDemo (const RenderOptions& options, DemoSummary& summary)
    {
        const auto folder = options.demoFolder;
        summary.folder = folder;

        if (folder.existsAsFile())
            return juce::Result::fail ("cannot write the demo into " + folder.getFullPathName() + ": it is a file");

        if (const auto created = folder.createDirectory(); created.failed())
            return juce::Result::fail ("cannot create folder " + folder.getFullPathName() + ": " + created.getErrorMessage());

        const auto inputFile = folder.getChildFile ("input.wav");
        const auto outputFile = folder.getChildFile ("output.wav");
        const auto pictureFile = folder.getChildFile ("waveforms.png");

        if (const auto written = writeWavFile (inputFile, makeDemoInput(), demoSampleRate, OutputFormat::pcm24); written.failed())
            return written;

        RenderOptions render;
        render.input = inputFile;
        render.output = outputFile;
        render.bundle = options.bundle;
        render.pluginFormat = options.pluginFormat;
        render.blockSize = options.blockSize;
        render.settings = demoSettings();

        if (const auto rendered = run (render, summary.render); rendered.failed())
            return rendered;

        // Read both back from disk, so the picture shows what the files hold.
        juce::AudioBuffer<float> input, output;
        double inputRate = 0.0, outputRate = 0.0;

        if (const auto r = readAudioFile (inputFile, input, inputRate); r.failed())
            return r;

        if (const auto r = readAudioFile (outputFile, output, outputRate); r.failed())
            return r;

        // 30 ms of the second chord, once its four notes have all come in.
        const auto first = static_cast<int> ((demoChordSeconds + 0.25) * demoSampleRate);
        const auto length = static_cast<int> (0.030 * demoSampleRate);
        const auto caption = "settings: " + settingsText (render.settings) + "\nsamples " + juce::String (first)
                             + " to " + juce::String (first + length - 1) + " of " + juce::String (input.getNumSamples())
                             + " at 48 kHz; grid lines at +-0.5";

        const auto image = drawWaveforms (input, output, demoSampleRate, first, length, caption);

        if (const auto pictured = writePngFile (pictureFile, image); pictured.failed())
            return pictured;

        summary.written.add ("input.wav      the demo input: four strummed chords, " + juce::String (input.getNumSamples() / demoSampleRate, 1)
                             + " s, 48 kHz stereo, 24-bit");
        summary.written.add ("output.wav     the input rendered through " + options.bundle.getFileName() + " with the settings above");
        summary.written.add ("waveforms.png  30 ms of input and output, one above the other and overlaid");

        if (const auto editorPicture = writeEditorPicture (folder, render); editorPicture != juce::File())
            summary.written.add (editorPicture.getFileName().paddedRight (' ', 13) + "  the plug-in's editor with these settings");

        return renderPresets (options, inputFile, input, first, length, summary);
    }
}
