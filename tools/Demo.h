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

    /** What the demo wrote. */
    struct DemoSummary
    {
        juce::File folder;
        RenderSummary render;
        juce::StringArray written;   // "name  what it is", one per file
    };

    /** Makes the demo input, renders it through the bundle, draws the waveforms and writes
        everything into options.demoFolder. */
    juce::Result runDemo (const RenderOptions& options, DemoSummary& summary);
}
