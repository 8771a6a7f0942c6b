#include "RenderOptions.h"

#include <optional>

namespace kestrine::render
{
    namespace
    {
        juce::File resolvePath (const juce::String& path)
        {
            return juce::File::getCurrentWorkingDirectory().getChildFile (path);
        }

        /** The whole text as a decimal integer, or nothing. */
        std::optional<int> parseInteger (const juce::String& text)
        {
            const auto trimmed = text.trim();

            if (trimmed.isEmpty() || trimmed.length() > 9 || ! trimmed.containsOnly ("0123456789"))
                return std::nullopt;

            return trimmed.getIntValue();
        }

        /** Splits "--name=value" into its two halves; other arguments are returned whole. */
        std::pair<juce::String, std::optional<juce::String>> splitInlineValue (const juce::String& argument)
        {
            if (argument.startsWith ("--") && argument.containsChar ('='))
                return { argument.upToFirstOccurrenceOf ("=", false, false),
                         argument.fromFirstOccurrenceOf ("=", false, false) };

            return { argument, std::nullopt };
        }
    }

    ParsedCommandLine parseCommandLine (const juce::StringArray& arguments, const juce::File& defaultBundle)
    {
        ParsedCommandLine parsed;
        auto& options = parsed.options;
        options.bundle = defaultBundle;

        juce::StringArray positional;
        juce::StringArray renderOnlyOptions;   // options that make no sense with --demo

        auto fail = [&parsed] (const juce::String& message)
        {
            parsed.error = message;
            return parsed;
        };

        for (int i = 0; i < arguments.size(); ++i)
        {
            const auto split = splitInlineValue (arguments[i]);
            const auto& name = split.first;
            const auto& inlineValue = split.second;

            // The value of an option: inline after '=' or the next argument.
            auto takeValue = [&]() -> std::optional<juce::String>
            {
                if (inlineValue.has_value())
                    return inlineValue->isNotEmpty() ? inlineValue : std::nullopt;

                if (i + 1 < arguments.size())
                    return arguments[++i];

                return std::nullopt;
            };

            auto flagOnly = [&] { return ! inlineValue.has_value(); };

            if (name == "-h" || name == "--help")
            {
                options.showHelp = true;
                return parsed;
            }

            if (name == "--set")
            {
                const auto value = takeValue();

                if (! value)
                    return fail ("--set needs ID=VALUE, for example --set amplitude1=0.3");

                if (! value->containsChar ('='))
                    return fail ("--set needs ID=VALUE, got \"" + *value + "\"");

                const auto identifier = value->upToFirstOccurrenceOf ("=", false, false).trim();
                const auto valueText = value->fromFirstOccurrenceOf ("=", false, false).trim();

                if (identifier.isEmpty() || valueText.isEmpty())
                    return fail ("--set needs ID=VALUE, got \"" + *value + "\"");

                options.settings.push_back ({ identifier, valueText });
                renderOnlyOptions.addIfNotAlreadyThere ("--set");
            }
            else if (name == "--state" || name == "--save-state" || name == "--bundle" || name == "--demo")
            {
                const auto value = takeValue();

                if (! value)
                    return fail (name + " needs a path");

                const auto path = resolvePath (*value);

                if (name == "--state")            options.stateToLoad = path;
                else if (name == "--save-state")  options.stateToSave = path;
                else if (name == "--bundle")      options.bundle = path;
                else                              options.demoFolder = path;

                if (name == "--state" || name == "--save-state")
                    renderOnlyOptions.addIfNotAlreadyThere (name);
            }
            else if (name == "--block-size")
            {
                const auto value = takeValue();

                if (! value)
                    return fail ("--block-size needs a number of samples");

                const auto blockSize = parseInteger (*value);

                if (! blockSize || *blockSize < minimumBlockSize || *blockSize > maximumBlockSize)
                    return fail ("--block-size must be a whole number from " + juce::String (minimumBlockSize)
                                 + " to " + juce::String (maximumBlockSize) + ", got \"" + *value + "\"");

                options.blockSize = *blockSize;
            }
            else if (name == "--float" || name == "--no-latency-compensation" || name == "--list-parameters")
            {
                if (! flagOnly())
                    return fail (name + " takes no value");

                if (name == "--float")
                    options.format = OutputFormat::float32;
                else if (name == "--no-latency-compensation")
                    options.compensateLatency = false;
                else
                    options.listParameters = true;

                if (name != "--list-parameters")
                    renderOnlyOptions.addIfNotAlreadyThere (name);
            }
            else if (name.startsWith ("-") && name.length() > 1)
            {
                return fail ("unknown option " + name + " (see --help)");
            }
            else
            {
                positional.add (arguments[i]);
            }
        }

        if (options.wantsDemo())
        {
            if (! positional.isEmpty())
                return fail ("--demo writes its own input; drop \"" + positional[0] + "\"");

            if (! renderOnlyOptions.isEmpty())
                return fail ("--demo uses its own settings; it takes only --bundle and --block-size, not "
                             + renderOnlyOptions.joinIntoString (", "));

            return parsed;
        }

        if (positional.size() > 2)
            return fail ("too many arguments: expected INPUT OUTPUT, got \"" + positional[2] + "\" as well");

        if (positional.size() == 1)
            return fail ("missing OUTPUT file after " + positional[0]);

        if (positional.isEmpty())
        {
            // Saving a state block or listing the parameters needs no audio.
            if (options.listParameters || options.stateToSave != juce::File())
                return parsed;

            return fail ("missing INPUT and OUTPUT files (see --help)");
        }

        options.input = resolvePath (positional[0]);
        options.output = resolvePath (positional[1]);

        if (options.input == options.output)
            return fail ("OUTPUT must differ from INPUT");

        return parsed;
    }

    juce::String helpText (const juce::File& defaultBundle)
    {
        return juce::String (
            "Usage: kestrine-render [options] INPUT OUTPUT\n"
            "       kestrine-render --demo FOLDER [--bundle PATH] [--block-size N]\n"
            "\n"
            "Renders an audio file through the Kestrine VST3 plug-in, loaded from its bundle\n"
            "through VST3 hosting exactly as a DAW loads it.\n"
            "\n"
            "INPUT is a mono or stereo WAV, AIFF or FLAC file; OUTPUT is written as WAV with the\n"
            "same sample rate and channel count. OUTPUT only appears once the render succeeded.\n"
            "\n"
            "Options:\n"
            "  --set ID=VALUE             set a parameter before rendering (repeatable). ID is a\n"
            "                             parameter identifier (amplitude1, frequency1, wavelength1,\n"
            "                             ... velocity, distortion, drywet, backColor, bypass) or its\n"
            "                             name (Position1, Dry/Wet, ...); VALUE is a plain value in\n"
            "                             the parameter's own range (backColor: 0-5 or a theme name)\n"
            "  --state FILE               load a saved state block before applying --set\n"
            "  --save-state FILE          write the state block after applying --state and --set\n"
            "                             (INPUT and OUTPUT may then be left out)\n"
            "  --float                    write 32-bit float samples (default: 24-bit integer)\n"
            "  --block-size N             samples per processing block, 1 to 65536 (default 512)\n"
            "  --no-latency-compensation  keep the plug-in's 1600-sample delay in the output; by\n"
            "                             default the reported latency is dropped from the start\n"
            "                             and rendered as tail, so OUTPUT lines up with INPUT and\n"
            "                             has the same length\n"
            "  --bundle PATH              the Kestrine.vst3 bundle to load\n"
            "                             (default: ") + defaultBundle.getFullPathName() + ")\n"
            "  --list-parameters          print the parameters with their ranges and exit\n"
            "  --demo FOLDER              make a built-in demo input, render it with audible\n"
            "                             settings and write input.wav, output.wav and\n"
            "                             waveforms.png into FOLDER\n"
            "  -h, --help                 print this text\n"
            "\n"
            "A progress bar appears on stderr for long files when stderr is a terminal.\n"
            "Exit status: 0 on success, 1 when the render failed, 2 for a bad command line.\n";
    }
}
