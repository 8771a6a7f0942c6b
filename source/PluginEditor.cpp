#include "PluginEditor.h"

CompressorAudioProcessorEditor::CompressorAudioProcessorEditor (CompressorAudioProcessor& p)
    : AudioProcessorEditor (&p), audioProcessor (p)
{
    setResizable (false, false);
    setSize (audioProcessor.editorWidth, audioProcessor.editorHeight);
}

CompressorAudioProcessorEditor::~CompressorAudioProcessorEditor() = default;

void CompressorAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::black);
}

void CompressorAudioProcessorEditor::resized() {}
