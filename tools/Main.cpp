#include "Demo.h"
#include "RenderOptions.h"
#include "RenderSession.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace
{
    constexpr int exitFailed = 1;
    constexpr int exitBadCommandLine = 2;
    constexpr double longFileSeconds = 10.0;   // shorter files render too fast for a progress bar
    constexpr int barWidth = 40;

    /** A bar on stderr, redrawn in place whenever another percent is done. */
    class ProgressBar
    {
    public:
        void operator() (double fraction)
        {
            const auto percent = juce::jlimit (0, 100, static_cast<int> (fraction * 100.0));

            if (percent == shownPercent)
                return;

            shownPercent = percent;
            const auto filled = percent * barWidth / 100;
            std::fprintf (stderr, "\r[%s%s] %3d%%", std::string (static_cast<size_t> (filled), '#').c_str(),
                          std::string (static_cast<size_t> (barWidth - filled), '.').c_str(), percent);

            if (percent == 100)
                std::fputc ('\n', stderr);

            std::fflush (stderr);
        }

    private:
        int shownPercent = -1;
    };

    /** Seconds of audio in a file, or 0 when it cannot be read (the render then reports why). */
    double durationOf (const juce::File& file)
    {
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();

        if (auto stream = file.createInputStream())
            if (const auto reader = std::unique_ptr<juce::AudioFormatReader> (formats.createReaderFor (std::move (stream))))
                return reader->sampleRate > 0.0 ? static_cast<double> (reader->lengthInSamples) / reader->sampleRate : 0.0;

        return 0.0;
    }

    void printError (const juce::String& message)
    {
        std::cerr << "kestrine-render: " << message.replaceCharacters ("\r\n", "  ") << std::endl;
    }

    int runDemo (const kestrine::render::RenderOptions& options)
    {
        kestrine::render::DemoSummary summary;
        const auto result = kestrine::render::runDemo (options, summary);

        if (result.failed())
        {
            printError (result.getErrorMessage());
            return exitFailed;
        }

        const auto& r = summary.render;
        const auto seconds = static_cast<double> (r.frames) / r.sampleRate;
        std::cout << "Rendered " << juce::String (seconds, 2) << " s of " << juce::roundToInt (r.sampleRate / 1000.0)
                  << " kHz " << (r.channels == 1 ? "mono" : "stereo") << " through the plug-in in "
                  << juce::String (r.renderSeconds, 3) << " s (" << juce::roundToInt (seconds / juce::jmax (1.0e-6, r.renderSeconds))
                  << " x real time; latency " << r.latency << " samples, compensated).\n";

        for (const auto& line : summary.written)
            std::cout << "  " << line << "\n";

        std::cout << "Demo written to " << summary.folder.getFullPathName() << std::endl;
        return 0;
    }
}

int main (int argc, char* argv[])
{
    juce::StringArray arguments;

    for (int i = 1; i < argc; ++i)
        arguments.add (juce::String::fromUTF8 (argv[i]));

    const kestrine::render::DefaultBundles defaultBundles { juce::File (KESTRINE_DEFAULT_BUNDLE),
                                                            juce::File (KESTRINE_DEFAULT_LV2_BUNDLE) };
    const auto parsed = kestrine::render::parseCommandLine (arguments, defaultBundles);

    if (! parsed.ok())
    {
        printError (parsed.error);
        return exitBadCommandLine;
    }

    auto options = parsed.options;
    options.factoryPresets = juce::File (KESTRINE_FACTORY_PRESETS);

    if (options.showHelp)
    {
        std::cout << kestrine::render::helpText (defaultBundles);
        return 0;
    }

    // The host side of VST3 needs JUCE's message manager, as in a DAW.
    const juce::ScopedJuceInitialiser_GUI juce;

    if (options.wantsDemo())
        return runDemo (options);

    ProgressBar bar;
    kestrine::render::ProgressCallback progress;

    if (options.wantsRender() && isatty (STDERR_FILENO) != 0 && durationOf (options.input) >= longFileSeconds)
        progress = [&bar] (double fraction) { bar (fraction); };

    kestrine::render::RenderSummary summary;
    const auto result = kestrine::render::run (options, summary, progress);

    if (result.failed())
    {
        if (progress)
            std::fputc ('\n', stderr);

        printError (result.getErrorMessage());
        return exitFailed;
    }

    if (summary.parameterListing.isNotEmpty())
        std::cout << summary.parameterListing;

    if (summary.presetListing.isNotEmpty())
        std::cout << summary.presetListing;

    return 0;
}
