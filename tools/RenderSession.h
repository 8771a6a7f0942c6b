#pragma once

#include "ParameterTable.h"
#include "RenderOptions.h"
#include "ToolFiles.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>
#include <memory>
#include <vector>

namespace kestrine::render
{
    /** A plug-in instance loaded from its VST3 or LV2 bundle, as a DAW loads it. Message
        thread only. */
    class HostedPlugin
    {
    public:
        /** Loads Kestrine from the bundle in the given format, or returns nullptr and sets error. */
        static std::unique_ptr<HostedPlugin> load (host::PluginFormat format, const juce::File& bundle,
                                                   double sampleRate, int blockSize, juce::String& error);

        juce::AudioPluginInstance& instance() noexcept { return *plugin; }
        const std::vector<ParameterInfo>& parameters() const noexcept { return table; }

        /** Sets up the plug-in for mono (1) or stereo (2) audio. Call before prepare(). */
        juce::Result setChannelCount (int channels);

        /** The channels to hand to processBlock: 2 when a mono signal goes through a plug-in
            that offers stereo only (the LV2), the signal's own count otherwise. */
        int processingChannels() const noexcept { return processedChannels; }

        /** Checks every request first and changes nothing unless all of them are valid. */
        juce::Result applySettings (const std::vector<ParameterSetting>& settings);

        /** Loads a state block: the plug-in's own block (as --save-state writes it), or for a
            VST3 a state saved by a JUCE-based host through getStateInformation. */
        juce::Result loadState (const juce::File& file);

        /** Restores a .vstpreset file: its "Comp" chunk goes to the component as a host hands
            it over. Refused, with nothing changed, as readComponentState refuses it. */
        juce::Result loadPreset (const juce::File& presetFile);

        /** Writes the plug-in's own state block, atomically. */
        juce::Result saveState (const juce::File& file);

        /** Prepares for offline processing, with every setting in effect and the latency
            reported. */
        void prepare (double sampleRate, int blockSize);

    private:
        HostedPlugin (host::PluginFormat, std::unique_ptr<juce::AudioPluginInstance>, double sampleRate, int blockSize);

        host::PluginFormat format;
        std::unique_ptr<juce::AudioPluginInstance> plugin;
        std::vector<ParameterInfo> table;
        double loadedSampleRate;
        int loadedBlockSize;
        int processedChannels = 2;
    };

    /** What a completed run did, for the caller to print. */
    struct RenderSummary
    {
        juce::int64 frames = 0;       // frames written to the output
        double sampleRate = 0.0;
        int channels = 0;
        int latency = 0;              // the latency the plug-in reported
        int droppedFrames = 0;        // frames dropped from the start to compensate it
        double renderSeconds = 0.0;   // wall-clock time of the processing loop
        juce::String parameterListing;
        juce::String presetListing;
    };

    /** A preset file as --list-presets shows it. */
    struct PresetEntry
    {
        juce::String name;        // from the file's meta data, else the file's name
        juce::String category;    // from the file's meta data; may be empty
        juce::File file;
    };

    /** The .vstpreset files of a folder, sorted by name. */
    std::vector<PresetEntry> listPresets (const juce::File& folder);

    /** One line per preset: its name and, in brackets, its category. */
    juce::String describePresets (const std::vector<PresetEntry>& presets);

    /** The file that --preset names: an existing file as given, or else the factory preset of
        that name (letter case aside) in the folder. An unknown name is refused with the names
        that exist. */
    juce::Result findPreset (const juce::String& nameOrPath, const juce::File& factoryFolder, juce::File& presetFile);

    /** The "Comp" chunk of a Kestrine .vstpreset file. Refused, with a one-line reason, when the
        file cannot be read, is not a well-formed preset file, was written for another plug-in,
        or has no "Comp" chunk holding a Kestrine state block. */
    juce::Result readComponentState (const juce::File& presetFile, juce::MemoryBlock& componentState);

    /** Called after every block with the fraction of the render done (0 to 1). */
    using ProgressCallback = std::function<void (double)>;

    /** Does what the options ask (render, --save-state, --list-parameters, --list-presets). On failure returns
        a one-line message and leaves no output file behind. */
    juce::Result run (const RenderOptions& options, RenderSummary& summary, const ProgressCallback& progress = {});

    /** Copies the audio file's samples into a buffer (for the demo picture and the tests). */
    juce::Result readAudioFile (const juce::File& file, juce::AudioBuffer<float>& samples, double& sampleRate);

    /** Writes a buffer as a WAV file, atomically. */
    juce::Result writeWavFile (const juce::File& file, const juce::AudioBuffer<float>& samples, double sampleRate,
                               OutputFormat format);
}
