#pragma once

#include <juce_core/juce_core.h>

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

    /** Everything the command line asks for. */
    struct RenderOptions
    {
        juce::File input;
        juce::File output;
        juce::File bundle;
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
        the current working directory; defaultBundle is used unless --bundle is given. */
    ParsedCommandLine parseCommandLine (const juce::StringArray& arguments, const juce::File& defaultBundle);

    /** The text that --help prints. */
    juce::String helpText (const juce::File& defaultBundle);
}
