#include "RenderOptions.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace kestrine::render
{
    namespace
    {
        constexpr std::size_t helpColumn = 29;   // where the help text's descriptions start
        constexpr const char* presetNeeds = "--preset needs a factory preset's name or a .vstpreset file";

        constexpr const char* usage =
            "Usage: kestrine-render [options] INPUT OUTPUT\n"
            "       kestrine-render --demo FOLDER [--bundle PATH] [--format vst3|lv2] [--block-size N]\n";

        constexpr const char* description =
            "Renders an audio file through the Kestrine plug-in, loaded from its VST3 or LV2\n"
            "bundle through that format's hosting exactly as a DAW loads it.\n"
            "\n"
            "INPUT is a mono or stereo WAV, AIFF or FLAC file; OUTPUT is written as WAV with the\n"
            "same sample rate and channel count. OUTPUT only appears once the render succeeded.\n";

        constexpr const char* footer =
            "A progress bar appears on stderr for long files when stderr is a terminal.\n"
            "Exit status: 0 on success, 1 when the render failed, 2 for a bad command line.";

        juce::String fromUtf8 (const std::string& text)
        {
            return juce::String::fromUTF8 (text.data(), static_cast<int> (text.size()));
        }

        juce::File resolvePath (const std::string& path)
        {
            return juce::File::getCurrentWorkingDirectory().getChildFile (fromUtf8 (path));
        }

        /** The whole text as a decimal integer, or nothing. */
        std::optional<int> parseInteger (const juce::String& text)
        {
            const auto trimmed = text.trim();

            if (trimmed.isEmpty() || trimmed.length() > 9 || ! trimmed.containsOnly ("0123456789"))
                return std::nullopt;

            return trimmed.getIntValue();
        }

        /** "vst3" or "lv2" in any letter case, surrounding spaces aside. */
        std::optional<host::PluginFormat> formatFromName (const juce::String& text)
        {
            const auto name = text.trim();

            if (name.equalsIgnoreCase ("vst3"))
                return host::PluginFormat::vst3;

            if (name.equalsIgnoreCase ("lv2"))
                return host::PluginFormat::lv2;

            return std::nullopt;
        }

        /** The help text as the tool has always laid it out: the usage and what the tool does,
            then one line per option with its value's name ("-h, --help", "--set ID=VALUE"),
            then the notes. */
        class HelpFormatter : public CLI::Formatter
        {
        public:
            std::string make_description (const CLI::App*) const override
            {
                return {};
            }

            std::string make_usage (const CLI::App* app, std::string) const override
            {
                return std::string (usage) + "\n" + app->get_description();
            }

            std::string make_option_name (const CLI::Option* option, bool) const override
            {
                auto names = option->get_name (false, true);

                for (auto comma = names.find (','); comma != std::string::npos; comma = names.find (',', comma + 2))
                    names.replace (comma, 1, ", ");

                return names;
            }

            std::string make_option_opts (const CLI::Option* option) const override
            {
                return takesValue (*option) ? " " + option->get_type_name() : std::string();
            }

            static bool takesValue (const CLI::Option& option)
            {
                return option.get_expected_max() > 0;
            }
        };

        /** The options, as CLI11 parses them, and where their values go. */
        class CommandLine
        {
        public:
            explicit CommandLine (const DefaultBundles& defaultBundles)
                : app (description, "kestrine-render")
            {
                auto formatter = std::make_shared<HelpFormatter>();
                formatter->column_width (helpColumn);
                app.formatter (formatter);
                app.footer (footer);

                // Unknown options are reported in the tool's own words (see unknownOption()), and
                // the help flag is added last so that the help text lists it last.
                app.allow_extras();
                app.set_help_flag();

                app.add_option ("files", files)->group ("");   // INPUT OUTPUT, described in the usage

                set = app.add_option ("--set", settings,
                                      "set a parameter before rendering (repeatable). ID is a\n"
                                      "parameter identifier (amplitude1, frequency1, wavelength1,\n"
                                      "... velocity, distortion, drywet, backColor, bypass) or its\n"
                                      "name (Position1, Dry/Wet, ...); VALUE is a plain value in\n"
                                      "the parameter's own range (backColor: 0-5 or a theme name)")
                          ->type_name ("ID=VALUE")
                          ->allow_extra_args (false);
                needsValue (set, "--set needs ID=VALUE, for example --set amplitude1=0.3");

                state = pathOption ("--state", stateToLoad, "FILE", "load a saved state block before applying --set");
                preset = app.add_option ("--preset", presetText,
                                         "apply a factory preset (see --list-presets) or any\n"
                                         "Kestrine .vstpreset file, after --state and before --set")
                             ->type_name ("NAME|FILE")
                             ->multi_option_policy (CLI::MultiOptionPolicy::TakeLast);
                needsValue (preset, presetNeeds);
                saveState = pathOption ("--save-state", stateToSave, "FILE",
                                        "write the state block after applying --state and --set\n"
                                        "(INPUT and OUTPUT may then be left out)");
                floatOutput = flag ("--float", "write 32-bit float samples (default: 24-bit integer)");

                blockSize = app.add_option ("--block-size", blockSizeText,
                                            "samples per processing block, " + std::to_string (minimumBlockSize)
                                            + " to " + std::to_string (maximumBlockSize) + " (default 512)")
                                ->type_name ("N")
                                ->multi_option_policy (CLI::MultiOptionPolicy::TakeLast);
                needsValue (blockSize, "--block-size needs a number of samples");

                keepLatency = flag ("--no-latency-compensation",
                                    "keep the plug-in's 1600-sample delay in the output; by\n"
                                    "default the reported latency is dropped from the start\n"
                                    "and rendered as tail, so OUTPUT lines up with INPUT and\n"
                                    "has the same length");
                bundle = pathOption ("--bundle", bundlePath, "PATH",
                                     "the bundle to load, a Kestrine.vst3 or a Kestrine.lv2\n(default: "
                                     + defaultBundles.vst3.getFullPathName().toStdString()
                                     + ",\nwith --format lv2: " + defaultBundles.lv2.getFullPathName().toStdString() + ")");
                pluginFormat = app.add_option ("--format", formatText,
                                               "load the bundle as a VST3 or as an LV2 (default: as its\n"
                                               "extension says, .vst3 or .lv2; else VST3)")
                                   ->type_name ("vst3|lv2")
                                   ->multi_option_policy (CLI::MultiOptionPolicy::TakeLast);
                needsValue (pluginFormat, "--format needs vst3 or lv2");
                list = flag ("--list-parameters", "print the parameters with their ranges and exit");
                listPresets = flag ("--list-presets", "print the factory presets with their categories and exit");
                demo = pathOption ("--demo", demoPath, "FOLDER",
                                   "make a built-in demo input, render it with audible\n"
                                   "settings and write input.wav, output.wav, waveforms.png\n"
                                   "and editor.png into FOLDER, then render it through each\n"
                                   "factory preset into presets/ and draw presets.png");

                app.set_help_flag ("-h,--help", "print this text");
            }

            /** The one-line message for a command line that CLI11 refused. */
            juce::String describe (const CLI::ParseError& error) const
            {
                const std::string message = error.what();

                // CLI11 starts a message about the values an option was given with the option's
                // name, with or without its dashes.
                if (dynamic_cast<const CLI::ArgumentMismatch*> (&error) != nullptr)
                {
                    const auto name = message.substr (0, message.find_first_of (": "));
                    const auto* option = app.get_option_no_throw (name);

                    if (option == nullptr)
                        option = app.get_option_no_throw ("--" + name);

                    if (option != nullptr)
                    {
                        if (! HelpFormatter::takesValue (*option))
                            return fromUtf8 (option->get_name()) + " takes no value";

                        for (const auto& [withValue, needs] : missingValueMessages)
                            if (withValue == option)
                                return needs;
                    }
                }

                return fromUtf8 (message);
            }

            /** The first argument that looked like an option but is none, without any "=value". */
            std::optional<juce::String> unknownOption() const
            {
                const auto unknown = app.remaining();

                if (unknown.empty())
                    return std::nullopt;

                return fromUtf8 (unknown.front()).upToFirstOccurrenceOf ("=", false, false);
            }

            /** The options given that only a render takes, in the order of their first use. */
            juce::StringArray renderOnlyOptionsGiven() const
            {
                juce::StringArray given;

                for (const auto* option : app.parse_order())
                    if (option == set || option == state || option == preset || option == saveState || option == floatOutput
                        || option == keepLatency)
                        given.addIfNotAlreadyThere (fromUtf8 (option->get_name()));

                return given;
            }

            static bool given (const CLI::Option* option)  { return option->count() > 0; }

            CLI::App app;

            std::vector<std::string> files, settings;
            std::string stateToLoad, stateToSave, presetText, blockSizeText, bundlePath, formatText, demoPath;

            CLI::Option* set = nullptr;
            CLI::Option* state = nullptr;
            CLI::Option* preset = nullptr;
            CLI::Option* saveState = nullptr;
            CLI::Option* floatOutput = nullptr;
            CLI::Option* blockSize = nullptr;
            CLI::Option* keepLatency = nullptr;
            CLI::Option* bundle = nullptr;
            CLI::Option* pluginFormat = nullptr;
            CLI::Option* list = nullptr;
            CLI::Option* listPresets = nullptr;
            CLI::Option* demo = nullptr;

        private:
            CLI::Option* pathOption (const char* name, std::string& target, const char* valueName, const std::string& text)
            {
                auto* option = app.add_option (name, target, text)
                                   ->type_name (valueName)
                                   ->multi_option_policy (CLI::MultiOptionPolicy::TakeLast);
                needsValue (option, juce::String (name) + " needs a path");
                return option;
            }

            CLI::Option* flag (const char* name, const std::string& text)
            {
                return app.add_flag (name, text)->disable_flag_override();
            }

            void needsValue (const CLI::Option* option, const juce::String& message)
            {
                missingValueMessages.emplace_back (option, message);
            }

            std::vector<std::pair<const CLI::Option*, juce::String>> missingValueMessages;
        };
    }

    ParsedCommandLine parseCommandLine (const juce::StringArray& arguments, const DefaultBundles& defaultBundles)
    {
        ParsedCommandLine parsed;
        auto& options = parsed.options;

        auto fail = [&parsed] (const juce::String& message)
        {
            parsed.error = message;
            return parsed;
        };

        CommandLine line (defaultBundles);

        // CLI11 takes the arguments last first.
        std::vector<std::string> reversed;

        for (int i = arguments.size(); --i >= 0;)
            reversed.push_back (arguments[i].toStdString());

        try
        {
            line.app.parse (reversed);
        }
        catch (const CLI::CallForHelp&)
        {
            options.showHelp = true;
            return parsed;
        }
        catch (const CLI::ParseError& error)
        {
            return fail (line.describe (error));
        }

        if (const auto unknown = line.unknownOption())
            return fail ("unknown option " + *unknown + " (see --help)");

        for (const auto& setting : line.settings)
        {
            const auto value = fromUtf8 (setting);

            if (! value.containsChar ('='))
                return fail ("--set needs ID=VALUE, got \"" + value + "\"");

            const auto identifier = value.upToFirstOccurrenceOf ("=", false, false).trim();
            const auto valueText = value.fromFirstOccurrenceOf ("=", false, false).trim();

            if (identifier.isEmpty() || valueText.isEmpty())
                return fail ("--set needs ID=VALUE, got \"" + value + "\"");

            options.settings.push_back ({ identifier, valueText });
        }

        if (CommandLine::given (line.blockSize))
        {
            const auto text = fromUtf8 (line.blockSizeText);
            const auto blockSize = parseInteger (text);

            if (! blockSize || *blockSize < minimumBlockSize || *blockSize > maximumBlockSize)
                return fail ("--block-size must be a whole number from " + juce::String (minimumBlockSize)
                             + " to " + juce::String (maximumBlockSize) + ", got \"" + text + "\"");

            options.blockSize = *blockSize;
        }

        if (CommandLine::given (line.preset))
        {
            options.preset = fromUtf8 (line.presetText).trim();

            if (options.preset.isEmpty())
                return fail (presetNeeds);
        }

        if (CommandLine::given (line.state))      options.stateToLoad = resolvePath (line.stateToLoad);
        if (CommandLine::given (line.saveState))  options.stateToSave = resolvePath (line.stateToSave);
        if (CommandLine::given (line.pluginFormat))
        {
            const auto text = fromUtf8 (line.formatText);

            if (const auto format = formatFromName (text))
                options.pluginFormat = *format;
            else
                return fail ("--format must be vst3 or lv2, got \"" + text + "\"");
        }

        if (CommandLine::given (line.bundle))
        {
            options.bundle = resolvePath (line.bundlePath);

            // A bundle whose extension names the other format is a contradiction on the
            // command line itself; one without a known extension is left to the loader.
            if (const auto named = host::formatFromExtension (options.bundle);
                named && options.pluginFormat && *named != *options.pluginFormat)
                return fail ("--format " + fromUtf8 (line.formatText).trim().toLowerCase() + " does not fit "
                             + options.bundle.getFullPathName() + ", which is " + (*named == host::PluginFormat::lv2 ? "an LV2" : "a VST3")
                             + " bundle");
        }
        else
        {
            options.bundle = defaultBundles.of (options.resolvedPluginFormat());
        }
        if (CommandLine::given (line.demo))       options.demoFolder = resolvePath (line.demoPath);

        if (CommandLine::given (line.floatOutput))
            options.format = OutputFormat::float32;

        options.compensateLatency = ! CommandLine::given (line.keepLatency);
        options.listParameters = CommandLine::given (line.list);
        options.listPresets = CommandLine::given (line.listPresets);

        const auto& positional = line.files;

        if (options.wantsDemo())
        {
            if (! positional.empty())
                return fail ("--demo writes its own input; drop \"" + fromUtf8 (positional.front()) + "\"");

            if (const auto renderOnly = line.renderOnlyOptionsGiven(); ! renderOnly.isEmpty())
                return fail ("--demo uses its own settings; it takes only --bundle, --format and --block-size, not "
                             + renderOnly.joinIntoString (", "));

            return parsed;
        }

        if (positional.size() > 2)
            return fail ("too many arguments: expected INPUT OUTPUT, got \"" + fromUtf8 (positional[2]) + "\" as well");

        if (positional.size() == 1)
            return fail ("missing OUTPUT file after " + fromUtf8 (positional[0]));

        if (positional.empty())
        {
            // Saving a state block or listing the parameters or presets needs no audio.
            if (options.listParameters || options.listPresets || options.stateToSave != juce::File())
                return parsed;

            return fail ("missing INPUT and OUTPUT files (see --help)");
        }

        options.input = resolvePath (positional[0]);
        options.output = resolvePath (positional[1]);

        if (options.input == options.output)
            return fail ("OUTPUT must differ from INPUT");

        return parsed;
    }

    juce::String helpText (const DefaultBundles& defaultBundles)
    {
        return fromUtf8 (CommandLine (defaultBundles).app.help());
    }
}
