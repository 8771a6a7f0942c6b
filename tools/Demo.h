#pragma once

#include "DemoInput.h"
#include "RenderSession.h"

#include <juce_graphics/juce_graphics.h>

namespace kestrine::render
{
    /** Settings that make the effect plainly audible: three bumps, a slow drift, some shaping. */
    std::vector<ParameterSetting> demoSettings();

    /** Input and output waveforms (left channel) over samples [first, first + length), drawn
        one above the other and overlaid, with a caption. */
    juce::Image drawWaveforms (const juce::AudioBuffer<float>& input, const juce::AudioBuffer<float>& output,
                               double sampleRate, int first, int length, const juce::String& caption);

    /** One factory preset's rendering of the demo input. */
    struct PresetRendering
    {
        juce::String name, category;
        juce::AudioBuffer<float> output;
    };

    /** The contact sheet of the factory presets: a small panel per preset, two to a row, with
        input and output (left channel) overlaid over samples [first, first + length). */
    juce::Image drawPresetSheet (const juce::AudioBuffer<float>& input, const std::vector<PresetRendering>& presets,
                                 double sampleRate, int first, int length);

    /** What the demo wrote. */
    struct DemoSummary
    {
        juce::File folder;
        RenderSummary render;
        juce::StringArray written;   // "name  what it is", one per file
    };

    /** Makes the demo input, renders it through the bundle, draws the waveforms and writes
        everything into options.demoFolder; then renders it through each factory preset (from
        options.factoryPresets) into presets/ and draws their contact sheet, presets.png. */
    juce::Result runDemo (const RenderOptions& options, DemoSummary& summary);
}
