#pragma once

#include "PluginLoader.h"

#include <juce_core/juce_core.h>

#include <optional>

#include <vector>

namespace kestrine::render
{
    /** Sample format of the rendered WAV file. */
    enum class OutputFormat
    {
        pcm24,
        float32
    };

    /** One --set request as typed: the identifier (or name) and the value text. */
    struct ParameterSetting
    {
        juce::String identifier;
        juce::String valueText;
    };

    /** The bundles that the tool loads unless --bundle names another: those of its own build. */
    struct DefaultBundles
    {
        juce::File vst3;
        juce::File lv2;

        const juce::File& of (host::PluginFormat format) const noexcept
        {
            return format == host::PluginFormat::lv2 ? lv2 : vst3;
        }
    };

    /** Everything the command line asks for. */
    struct RenderOptions
    {
        juce::File input;
        juce::File output;
        juce::File bundle;
        std::optional<host::PluginFormat> pluginFormat;   // --format; otherwise the bundle's extension says
        std::vector<ParameterSetting> settings;
        juce::File stateToLoad;
        juce::String preset;             // --preset: a factory preset's name or a .vstpreset file
        juce::File factoryPresets;       // the folder of the factory .vstpreset files
        juce::File stateToSave;
        int blockSize = 512;
        bool compensateLatency = true;
        OutputFormat format = OutputFormat::pcm24;
        bool showHelp = false;
        bool listParameters = false;
        bool listPresets = false;
        juce::File demoFolder;   // set by --demo

        /** The format to load the bundle as: the one asked for, else the one its extension
            names, else VST3. */
        host::PluginFormat resolvedPluginFormat() const
        {
            return pluginFormat.value_or (host::formatFromExtension (bundle).value_or (host::PluginFormat::vst3));
        }

        bool wantsDemo() const { return demoFolder != juce::File(); }
        bool wantsRender() const { return input != juce::File(); }
    };

    /** The parsed command line, or the reason it was refused. */
    struct ParsedCommandLine
    {
        RenderOptions options;
        juce::String error;   // empty when the command line is usable

        bool ok() const noexcept { return error.isEmpty(); }
    };

    constexpr int minimumBlockSize = 1;
    constexpr int maximumBlockSize = 65536;

    /** Parses the arguments that follow the program name. Relative paths are resolved against
        the current working directory. Without --bundle the default bundle of the format asked
        for with --format (VST3 when none is) is used. */
    ParsedCommandLine parseCommandLine (const juce::StringArray& arguments, const DefaultBundles& defaultBundles);

    /** The text that --help prints. */
    juce::String helpText (const DefaultBundles& defaultBundles);
}
