#include "PluginHost.h"

#include "Demo.h"
#include "FactoryPresetTexts.h"
#include "ParameterTable.h"
#include "RenderOptions.h"
#include "RenderSession.h"
#include "TestHelpers.h"
#include "VstPresetFile.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <cmath>

using namespace kestrine::render;

namespace
{
    constexpr int latency = 1600;
    const juce::File someBundle ("/opt/Kestrine.vst3");
    const juce::File someLv2Bundle ("/opt/Kestrine.lv2");

    ParsedCommandLine parse (const juce::StringArray& arguments)
    {
        return parseCommandLine (arguments, { someBundle, someLv2Bundle });
    }

    /** The Kestrine parameters as the bundle presents them, written out by hand. */
    std::vector<ParameterInfo> kestrineTable()
    {
        std::vector<ParameterInfo> table;
        auto add = [&table] (const char* id, const char* name, double lo, double hi, juce::StringArray choices = {})
        {
            table.push_back ({ id, name, lo, hi, choices, static_cast<int> (table.size()) });
        };

        for (const auto* k : { "1", "2", "3" })
        {
            add ((juce::String ("amplitude") + k).toRawUTF8(), (juce::String ("Amplitude") + k).toRawUTF8(), -0.5, 0.5);
            add ((juce::String ("frequency") + k).toRawUTF8(), (juce::String ("Position") + k).toRawUTF8(), 0.0, 800.0);
            add ((juce::String ("wavelength") + k).toRawUTF8(), (juce::String ("Width") + k).toRawUTF8(), 5.0, 100.0);
        }

        add ("velocity", "Velocity", -1.0, 1.0);
        add ("distortion", "Distortion", -1.0, 1.0);
        add ("drywet", "Dry/Wet", 0.0, 1.0);
        add ("backColor", "BackColor", 0.0, 5.0, { "Vibrato", "Crescendo", "Rhapsody", "Staccato", "Tremolo", "Arpeggio" });
        add ("bypass", "Bypass", 0.0, 1.0, { "Off", "On" });
        return table;
    }

    juce::File renderTool()
    {
        return juce::File (KESTRINE_RENDER_PATH);
    }

    /** Runs the built tool with the arguments; the limit only keeps a broken tool from
        hanging the suite. */
    kestrine::test::CommandRun runTool (const juce::StringArray& arguments)
    {
        juce::StringArray command { renderTool().getFullPathName() };
        command.addArray (arguments);
        return kestrine::test::runCommand (command, 60000);
    }

    /** A decaying two-tone signal with a little noise, different on each channel: every
        sample distinct, some above 0.64 so that a shaping fault would show. */
    juce::AudioBuffer<float> testSignal (int channels, int frames)
    {
        juce::AudioBuffer<float> signal (channels, frames);
        juce::Random random (1234);

        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < frames; ++i)
            {
                const auto t = static_cast<float> (i) / 48000.0f;
                const auto envelope = std::exp (-1.5f * t);
                signal.setSample (c, i, envelope * (0.6f * std::sin (2.0f * 3.14159265f * (110.0f + 55.0f * static_cast<float> (c)) * t)
                                                    + 0.3f * std::sin (2.0f * 3.14159265f * 733.0f * t))
                                            + 0.02f * (random.nextFloat() - 0.5f));
            }

        return signal;
    }

    juce::Result writeFile (const juce::File& file, juce::AudioFormat& format, const juce::AudioBuffer<float>& samples,
                            int bits)
    {
        file.deleteFile();
        auto stream = std::make_unique<juce::FileOutputStream> (file);

        if (stream->failedToOpen())
            return juce::Result::fail ("cannot open " + file.getFullPathName());

        std::unique_ptr<juce::AudioFormatWriter> writer (format.createWriterFor (
            stream.get(), 48000.0, static_cast<unsigned int> (samples.getNumChannels()), bits, {}, 0));

        if (writer == nullptr)
            return juce::Result::fail ("no writer for " + file.getFullPathName());

        stream.release();
        writer->writeFromAudioSampleBuffer (samples, 0, samples.getNumSamples());
        return juce::Result::ok();
    }

    /** Largest difference between two buffers of equal shape, or infinity if the shapes differ. */
    float largestDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int offsetInB = 0)
    {
        if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
            return std::numeric_limits<float>::infinity();

        float largest = 0.0f;

        for (int c = 0; c < a.getNumChannels(); ++c)
            for (int i = 0; i + offsetInB < a.getNumSamples(); ++i)
                largest = std::max (largest, std::abs (a.getSample (c, i) - b.getSample (c, i + offsetInB)));

        return largest;
    }

    class RenderTool : public testing::Test
    {
    protected:
        void SetUp() override
        {
            ASSERT_TRUE (scratch.created.wasOk()) << scratch.created.getErrorMessage();
        }

        juce::File file (const char* name) const { return folder.getChildFile (name); }

        /** Names of everything in the folder, hidden files included, sorted. */
        juce::StringArray folderContents() const
        {
            juce::StringArray names;

            for (const auto& entry : juce::RangedDirectoryIterator (folder, false, "*", juce::File::findFilesAndDirectories))
                names.add (entry.getFile().getFileName());

            names.sort (false);
            return names;
        }

        juce::AudioBuffer<float> read (const juce::File& f) const
        {
            juce::AudioBuffer<float> samples;
            double rate = 0.0;
            EXPECT_TRUE (readAudioFile (f, samples, rate).wasOk()) << f.getFullPathName();
            return samples;
        }

        const kestrine::test::ScratchFolder scratch { "kestrine-render-test" };
        const juce::File& folder = scratch.folder;
    };
}

namespace
{
    /** The "value" of one entry in a state block file written by the tool, or NaN. */
    double savedValue (const juce::File& stateFile, const char* id)
    {
        juce::MemoryBlock block;
        if (! stateFile.loadFileAsData (block) || block.getSize() < 9)
            return std::nan ("");

        const juce::String text (juce::CharPointer_UTF8 (static_cast<const char*> (block.getData()) + 8));
        const auto xml = juce::parseXML (text);
        if (xml == nullptr)
            return std::nan ("");

        for (auto* entry : xml->getChildIterator())
            if (entry->getStringAttribute ("id") == id)
                return entry->getDoubleAttribute ("value", std::nan (""));

        return std::nan ("");
    }
}

//==============================================================================
TEST (RenderCommandLine, AcceptsTheDocumentedForms)
{
    const auto plain = parse ({ "in.wav", "out.wav" });
    ASSERT_TRUE (plain.ok()) << plain.error;
    EXPECT_EQ (plain.options.input.getFileName(), "in.wav");
    EXPECT_EQ (plain.options.output.getFileName(), "out.wav");
    EXPECT_TRUE (juce::File::isAbsolutePath (plain.options.input.getFullPathName()));
    EXPECT_EQ (plain.options.bundle, someBundle);
    EXPECT_EQ (plain.options.blockSize, 512);
    EXPECT_TRUE (plain.options.compensateLatency);
    EXPECT_EQ (plain.options.format, OutputFormat::pcm24);

    const auto full = parse ({ "--set", "amplitude1=0.3", "--set=frequency1 = 200", "in.aiff", "--float",
                               "--block-size", "77", "--no-latency-compensation", "--state", "a.state",
                               "--save-state=b.state", "--bundle", "/x/K.vst3", "out.wav" });
    ASSERT_TRUE (full.ok()) << full.error;
    ASSERT_EQ (full.options.settings.size(), 2u);
    EXPECT_EQ (full.options.settings[0].identifier, "amplitude1");
    EXPECT_EQ (full.options.settings[0].valueText, "0.3");
    EXPECT_EQ (full.options.settings[1].identifier, "frequency1");
    EXPECT_EQ (full.options.settings[1].valueText, "200");
    EXPECT_EQ (full.options.format, OutputFormat::float32);
    EXPECT_EQ (full.options.blockSize, 77);
    EXPECT_FALSE (full.options.compensateLatency);
    EXPECT_EQ (full.options.stateToLoad.getFileName(), "a.state");
    EXPECT_EQ (full.options.stateToSave.getFileName(), "b.state");
    EXPECT_EQ (full.options.bundle, juce::File ("/x/K.vst3"));

    EXPECT_TRUE (parse ({ "--help" }).options.showHelp);
    EXPECT_TRUE (parse ({ "in.wav", "-h", "--bogus" }).options.showHelp);
    EXPECT_TRUE (parse ({ "--set", "drywet=0", "--save-state", "s.state" }).ok());   // no audio needed
    EXPECT_TRUE (parse ({ "--list-parameters" }).ok());
    EXPECT_TRUE (parse ({ "--list-presets" }).options.listPresets);
    EXPECT_EQ (parse ({ "--preset", " Warm Edge ", "in.wav", "out.wav" }).options.preset, "Warm Edge");
    EXPECT_EQ (parse ({ "--preset=my/own.vstpreset", "--save-state", "s.state" }).options.preset, "my/own.vstpreset");
    EXPECT_TRUE (parse ({ "--demo", "demo-output", "--block-size", "256" }).options.wantsDemo());
}

TEST (RenderCommandLine, RefusesBadCommandLinesWithAMessageNamingTheFault)
{
    const struct { juce::StringArray arguments; const char* expected; } cases[] = {
        { {},                                                    "missing INPUT and OUTPUT" },
        { { "in.wav" },                                          "missing OUTPUT" },
        { { "a.wav", "b.wav", "c.wav" },                         "too many arguments" },
        { { "same.wav", "same.wav" },                            "must differ" },
        { { "--frobnicate", "a.wav", "b.wav" },                  "unknown option --frobnicate" },
        { { "--set" },                                           "--set needs ID=VALUE" },
        { { "--set", "amplitude1", "a.wav", "b.wav" },           "got \"amplitude1\"" },
        { { "--set", "=0.3", "a.wav", "b.wav" },                 "--set needs ID=VALUE" },
        { { "--set", "amplitude1=", "a.wav", "b.wav" },          "--set needs ID=VALUE" },
        { { "--block-size", "0", "a.wav", "b.wav" },             "--block-size must be a whole number from 1 to 65536" },
        { { "--block-size", "65537", "a.wav", "b.wav" },         "from 1 to 65536" },
        { { "--block-size", "12x", "a.wav", "b.wav" },           "got \"12x\"" },
        { { "--block-size", "-5", "a.wav", "b.wav" },            "from 1 to 65536" },
        { { "a.wav", "b.wav", "--block-size" },                  "--block-size needs a number" },
        { { "a.wav", "b.wav", "--state" },                       "--state needs a path" },
        { { "--float=yes", "a.wav", "b.wav" },                   "--float takes no value" },
        { { "--demo", "d", "a.wav" },                            "--demo writes its own input" },
        { { "--demo", "d", "--set", "drywet=0" },                "--demo uses its own settings" },
        { { "--format", "vst2", "a.wav", "b.wav" },              "--format must be vst3 or lv2, got \"vst2\"" },
        { { "a.wav", "b.wav", "--format" },                      "--format needs vst3 or lv2" },
        { { "a.wav", "b.wav", "--preset" },                      "--preset needs a factory preset's name or a .vstpreset file" },
        { { "--preset", " ", "a.wav", "b.wav" },                 "--preset needs a factory preset's name" },
        { { "--demo", "d", "--preset", "Warm Edge" },            "--demo uses its own settings" },
        { { "--list-presets=yes" },                              "--list-presets takes no value" },
        { { "--format", "lv2", "--bundle", "/x/K.vst3", "a.wav", "b.wav" }, "--format lv2 does not fit /x/K.vst3, which is a VST3 bundle" },
        { { "--bundle", "/x/K.lv2", "--format", "VST3", "a.wav", "b.wav" }, "--format vst3 does not fit /x/K.lv2, which is an LV2 bundle" },
    };

    for (const auto& c : cases)
    {
        const auto parsed = parse (c.arguments);
        EXPECT_FALSE (parsed.ok()) << c.arguments.joinIntoString (" ");
        EXPECT_TRUE (parsed.error.contains (c.expected)) << c.arguments.joinIntoString (" ") << " -> " << parsed.error;
        EXPECT_FALSE (parsed.error.containsAnyOf ("\r\n")) << parsed.error;
    }
}

TEST (RenderCommandLine, TheFormatComesFromTheOptionElseTheBundlesExtensionElseVst3)
{
    using kestrine::host::PluginFormat;
    const struct { juce::StringArray arguments; PluginFormat format; juce::File bundle; } cases[] = {
        { {},                                               PluginFormat::vst3, someBundle },
        { { "--format", "lv2" },                            PluginFormat::lv2,  someLv2Bundle },   // this build's LV2
        { { "--format", "VST3" },                           PluginFormat::vst3, someBundle },
        { { "--bundle", "/x/K.lv2" },                       PluginFormat::lv2,  juce::File ("/x/K.lv2") },
        { { "--bundle", "/x/K.vst3" },                      PluginFormat::vst3, juce::File ("/x/K.vst3") },
        { { "--bundle", "/x/K.lv2", "--format", "lv2" },    PluginFormat::lv2,  juce::File ("/x/K.lv2") },
        { { "--bundle", "/x/plugin", "--format", "lv2" },   PluginFormat::lv2,  juce::File ("/x/plugin") },
        { { "--bundle", "/x/plugin" },                      PluginFormat::vst3, juce::File ("/x/plugin") },
        { { "--format", "vst3", "--format", "lv2" },        PluginFormat::lv2,  someLv2Bundle },   // the last one counts
    };

    for (const auto& c : cases)
    {
        auto arguments = c.arguments;
        arguments.addArray ({ "in.wav", "out.wav" });
        const auto parsed = parse (arguments);
        ASSERT_TRUE (parsed.ok()) << arguments.joinIntoString (" ") << ": " << parsed.error;
        EXPECT_EQ (parsed.options.resolvedPluginFormat(), c.format) << arguments.joinIntoString (" ");
        EXPECT_EQ (parsed.options.bundle, c.bundle) << arguments.joinIntoString (" ");
    }

    // The demo loads whichever bundle the options name.
    const auto demo = parse ({ "--demo", "d", "--format", "lv2" });
    ASSERT_TRUE (demo.ok()) << demo.error;
    EXPECT_EQ (demo.options.bundle, someLv2Bundle);
}

TEST (RenderParameters, ResolvesPlainValuesByIdentifierOrName)
{
    const auto table = kestrineTable();
    const struct { const char* id; const char* value; int index; float normalised; } cases[] = {
        { "amplitude1",  "-0.5",     0, 0.0f },
        { "amplitude1",  "0.5",      0, 1.0f },
        { "amplitude1",  "0.25",     0, 0.75f },
        { "frequency2",  "200",      4, 0.25f },
        { "Position2",   "800",      4, 1.0f },      // by name
        { "WAVELENGTH3", "5",        8, 0.0f },      // without regard to case
        { "Dry/Wet",     "0.3",     11, 0.3f },
        { "backColor",   "3",       12, 0.6f },
        { "backColor",   "staccato", 12, 0.6f },     // a choice by its text
        { "bypass",      "1",       13, 1.0f },
        { "velocity",    " -1e-1 ",  9, 0.45f },
    };

    for (const auto& c : cases)
    {
        const auto r = resolveSetting (table, { c.id, c.value });
        ASSERT_TRUE (r.ok()) << c.id << "=" << c.value << ": " << r.error;
        EXPECT_EQ (r.tableIndex, c.index) << c.id;
        EXPECT_NEAR (r.normalisedValue, c.normalised, 1.0e-6f) << c.id << "=" << c.value;
    }
}

TEST (RenderParameters, RefusesUnknownIdentifiersAndValuesOutsideTheRange)
{
    const auto table = kestrineTable();
    const struct { const char* id; const char* value; const char* expected; } cases[] = {
        { "amplitude4", "0.1",   "unknown parameter \"amplitude4\"; valid identifiers: amplitude1, frequency1, wavelength1, amplitude2" },
        { "gain",       "1",     "velocity, distortion, drywet, backColor, bypass" },
        { "amplitude1", "0.51",  "value 0.51 for amplitude1 is outside its range -0.5 to 0.5" },
        { "amplitude1", "-0.6",  "outside its range -0.5 to 0.5" },
        { "frequency1", "800.5", "outside its range 0 to 800" },
        { "wavelength1", "4",    "outside its range 5 to 100" },
        { "drywet",     "abc",   "value \"abc\" for drywet is not a number; valid: 0 to 1" },
        { "drywet",     "0.3x",  "is not a number" },
        { "drywet",     "nan",   "is not a number" },
        { "drywet",     "inf",   "is not a number" },
        { "backColor",  "6",     "outside its range 0 to 5 or one of Vibrato, Crescendo, Rhapsody, Staccato, Tremolo, Arpeggio" },
        { "backColor",  "2.5",   "must be a whole number" },
        { "backColor",  "Purple", "is not a number; valid: 0 to 5 or one of Vibrato" },
    };

    for (const auto& c : cases)
    {
        const auto r = resolveSetting (table, { c.id, c.value });
        EXPECT_FALSE (r.ok()) << c.id << "=" << c.value;
        EXPECT_TRUE (r.error.contains (c.expected)) << c.id << "=" << c.value << " -> " << r.error;
    }
}

//==============================================================================
TEST (RenderHost, TheBundlesParametersMapToTheirIdentifiersAndRanges)
{
    juce::String error;
    const auto host = HostedPlugin::load (kestrine::host::PluginFormat::vst3, kestrine::test::builtBundle(), 48000.0, 512, error);
    ASSERT_NE (host, nullptr) << error;

    const auto expected = kestrineTable();
    const auto& actual = host->parameters();
    ASSERT_EQ (actual.size(), expected.size());

    for (size_t i = 0; i < expected.size(); ++i)
    {
        EXPECT_EQ (actual[i].identifier, expected[i].identifier) << i;
        EXPECT_EQ (actual[i].name, expected[i].name) << i;
        EXPECT_DOUBLE_EQ (actual[i].minimum, expected[i].minimum) << expected[i].identifier;
        EXPECT_DOUBLE_EQ (actual[i].maximum, expected[i].maximum) << expected[i].identifier;
        EXPECT_EQ (actual[i].choices, expected[i].choices) << expected[i].identifier;
    }

    // A plain value set through the tool is the value the plug-in then shows.
    ASSERT_TRUE (host->applySettings ({ { "frequency1", "123.45" }, { "Width2", "7" }, { "distortion", "-0.25" },
                                        { "backColor", "Tremolo" } }).wasOk());
    const auto& parameters = host->instance().getParameters();
    EXPECT_EQ (parameters[1]->getCurrentValueAsText(), "123.45");
    EXPECT_EQ (parameters[5]->getCurrentValueAsText(), "7.00");
    EXPECT_EQ (parameters[10]->getCurrentValueAsText(), "-0.25");
    EXPECT_EQ (parameters[12]->getCurrentValueAsText(), "Tremolo");

    // One bad request in a list changes nothing.
    const auto refused = host->applySettings ({ { "frequency1", "300" }, { "frequency2", "900" } });
    EXPECT_TRUE (refused.failed());
    EXPECT_EQ (parameters[1]->getCurrentValueAsText(), "123.45");
}

TEST_F (RenderTool, DefaultSettingsGiveTheInputBackSampleForSample)
{
    juce::WavAudioFormat wav;
    juce::AiffAudioFormat aiff;
    juce::FlacAudioFormat flac;

    // Float WAV keeps the samples exactly; AIFF and FLAC hold 24-bit integers, which the
    // float output then carries unchanged.
    const struct { const char* name; juce::AudioFormat* format; int bits; int channels; const char* blockSize; } cases[] = {
        { "stereo.wav",  &wav,  32, 2, "512" },
        { "mono.wav",    &wav,  32, 1, "512" },
        { "odd.wav",     &wav,  32, 2, "77" },     // blocks that do not divide the latency
        { "stereo.aiff", &aiff, 24, 2, "1024" },
        { "mono.flac",   &flac, 24, 1, "300" },
    };

    for (const auto& c : cases)
    {
        const auto input = file (c.name);
        const auto output = file ("out.wav");
        ASSERT_TRUE (writeFile (input, *c.format, testSignal (c.channels, 48000 + 123), c.bits).wasOk()) << c.name;

        const auto run = runTool ({ input.getFullPathName(), output.getFullPathName(), "--float", "--block-size", c.blockSize });
        ASSERT_EQ (run.exitCode, 0) << c.name << ": " << run.output;
        EXPECT_TRUE (run.output.isEmpty()) << run.output;

        const auto in = read (input);
        const auto out = read (output);
        EXPECT_EQ (out.getNumChannels(), c.channels) << c.name;
        EXPECT_EQ (out.getNumSamples(), in.getNumSamples()) << c.name;
        EXPECT_EQ (largestDifference (in, out), 0.0f) << c.name;
        output.deleteFile();
    }
}

TEST_F (RenderTool, WithoutCompensationTheOutputIsTheInputDelayedByTheLatency)
{
    const auto input = file ("in.wav");
    const auto delayed = file ("delayed.wav");
    const auto rounded = file ("rounded.wav");
    const auto signal = testSignal (2, 20000);
    ASSERT_TRUE (writeWavFile (input, signal, 48000.0, OutputFormat::float32).wasOk());

    ASSERT_EQ (runTool ({ input.getFullPathName(), delayed.getFullPathName(), "--float", "--no-latency-compensation" }).exitCode, 0);
    const auto out = read (delayed);
    ASSERT_EQ (out.getNumSamples(), signal.getNumSamples());
    EXPECT_EQ (out.getMagnitude (0, latency), 0.0f);

    float largest = 0.0f;
    for (int c = 0; c < 2; ++c)
        for (int i = latency; i < signal.getNumSamples(); ++i)
            largest = std::max (largest, std::abs (out.getSample (c, i) - signal.getSample (c, i - latency)));
    EXPECT_EQ (largest, 0.0f);

    // The default 24-bit output is the same to within one step of 24-bit rounding.
    ASSERT_EQ (runTool ({ input.getFullPathName(), rounded.getFullPathName() }).exitCode, 0);
    EXPECT_LE (largestDifference (signal, read (rounded)), 1.0f / 8388607.0f);
}

TEST_F (RenderTool, FailuresGiveOneLineAndLeaveNoFileBehind)
{
    const auto input = file ("in.wav");
    ASSERT_TRUE (writeWavFile (input, testSignal (2, 4000), 48000.0, OutputFormat::float32).wasOk());
    file ("not-audio.wav").replaceWithText ("this is not audio");
    file ("surround.wav");
    {
        juce::WavAudioFormat wav;
        ASSERT_TRUE (writeFile (file ("surround.wav"), wav, juce::AudioBuffer<float> (6, 100), 24).wasOk());
    }
    file ("bad.state").replaceWithText ("<PARAMETERS/>");
    const char emptyLengthState[] = "VC2!\0\0\0\0<PARAMETERS/>";   // the magic number, a length field of 0
    file ("empty-length.state").replaceWithData (emptyLengthState, sizeof (emptyLengthState));
    const auto before = folderContents();

    const auto in = input.getFullPathName();
    const auto out = file ("out.wav").getFullPathName();
    const struct { juce::StringArray arguments; int exitCode; const char* expected; } cases[] = {
        { { file ("missing.wav").getFullPathName(), out },                 1, "missing.wav: no such file" },
        { { folder.getFullPathName(), out },                               1, "it is a folder" },
        { { file ("not-audio.wav").getFullPathName(), out },               1, "not a WAV, AIFF or FLAC file" },
        { { file ("surround.wav").getFullPathName(), out },                1, "6 channels; only mono and stereo" },
        { { in, file ("no-such-folder/out.wav").getFullPathName() },       1, "no-such-folder does not exist" },
        { { in, file ("in.wav/out.wav").getFullPathName() },               1, "in.wav is a file, not a folder" },
        { { in, out, "--set", "amplitude1=0.9" },                          1, "outside its range -0.5 to 0.5" },
        { { in, out, "--set", "amplitudes=0.1" },                          1, "valid identifiers: amplitude1" },
        { { in, out, "--bundle", file ("Nowhere.vst3").getFullPathName() }, 1, "plug-in bundle not found" },
        { { in, out, "--bundle", input.getFullPathName() },                1, "no VST3 plug-in could be loaded" },
        { { in, out, "--state", file ("missing.state").getFullPathName() }, 1, "missing.state: no such file" },
        { { in, out, "--state", file ("bad.state").getFullPathName() },    1, "is not a Kestrine state block" },
        { { in, out, "--state", file ("empty-length.state").getFullPathName() }, 1, "is not a Kestrine state block" },
        { { in, out, "--block-size", "0" },                                2, "--block-size" },
        { { in, out, "--wet" },                                            2, "unknown option --wet" },
    };

    for (const auto& c : cases)
    {
        const auto run = runTool (c.arguments);
        const auto description = c.arguments.joinIntoString (" ");
        EXPECT_EQ (run.exitCode, c.exitCode) << description << ": " << run.output;
        EXPECT_TRUE (run.output.startsWith ("kestrine-render: ")) << run.output;
        EXPECT_TRUE (run.output.contains (c.expected)) << description << " -> " << run.output;
        EXPECT_EQ (run.output.trimEnd().indexOfAnyOf ("\r\n"), -1) << "more than one line: " << run.output;
        EXPECT_EQ (folderContents(), before) << description << " left a file behind";
    }
}

TEST_F (RenderTool, SavedStatesCarryTheSettingsAndLoadBack)
{
    const auto saved = file ("saved.state");
    const auto again = file ("again.state");
    const auto first = runTool ({ "--set", "amplitude1=0.3", "--set", "backColor=Rhapsody", "--save-state", saved.getFullPathName() });
    ASSERT_EQ (first.exitCode, 0) << first.output;

    // The plug-in's own block: magic, text length, one line of XML, a terminating zero.
    juce::MemoryBlock block;
    ASSERT_TRUE (saved.loadFileAsData (block));
    ASSERT_GT (block.getSize(), 9u);
    const auto* bytes = static_cast<const char*> (block.getData());
    EXPECT_EQ (juce::ByteOrder::littleEndianInt (bytes), 0x21324356u);
    EXPECT_EQ (static_cast<size_t> (juce::ByteOrder::littleEndianInt (bytes + 4)) + 9, block.getSize());
    EXPECT_EQ (bytes[block.getSize() - 1], 0);
    // Values travel as normalised numbers through the VST3 wrapper, so compare them as numbers.
    EXPECT_NEAR (savedValue (saved, "amplitude1"), 0.3, 1.0e-6);
    EXPECT_EQ (savedValue (saved, "backColor"), 2.0);

    // Loaded into a fresh instance and saved again, it comes back the same.
    const auto second = runTool ({ "--state", saved.getFullPathName(), "--save-state", again.getFullPathName() });
    ASSERT_EQ (second.exitCode, 0) << second.output;
    EXPECT_EQ (again.loadFileAsString(), saved.loadFileAsString());

    // --set applies on top of a loaded state.
    const auto third = runTool ({ "--state", saved.getFullPathName(), "--set", "drywet=0.5", "--save-state", again.getFullPathName() });
    ASSERT_EQ (third.exitCode, 0) << third.output;
    EXPECT_NEAR (savedValue (again, "amplitude1"), 0.3, 1.0e-6);
    EXPECT_NEAR (savedValue (again, "drywet"), 0.5, 1.0e-6);
}

TEST_F (RenderTool, DryWetZeroFromAStateGivesTheUndelayedInput)
{
    // A state that the render must apply before the first sample: with drywet 0 the output is
    // the input itself, so the compensated output is the input moved 1600 samples early.
    const auto state = file ("dry.state");
    ASSERT_EQ (runTool ({ "--set", "drywet=0", "--save-state", state.getFullPathName() }).exitCode, 0);

    const auto input = file ("in.wav");
    const auto output = file ("out.wav");
    const auto signal = testSignal (1, 10000);
    ASSERT_TRUE (writeWavFile (input, signal, 48000.0, OutputFormat::float32).wasOk());
    const auto run = runTool ({ input.getFullPathName(), output.getFullPathName(), "--float", "--state", state.getFullPathName() });
    ASSERT_EQ (run.exitCode, 0) << run.output;

    const auto out = read (output);
    ASSERT_EQ (out.getNumSamples(), signal.getNumSamples());
    float largest = 0.0f;
    for (int i = 0; i + latency < signal.getNumSamples(); ++i)
        largest = std::max (largest, std::abs (out.getSample (0, i) - signal.getSample (0, i + latency)));
    EXPECT_EQ (largest, 0.0f);
    EXPECT_EQ (out.getMagnitude (out.getNumSamples() - latency, latency), 0.0f);   // the tail is silence
}

//==============================================================================
namespace
{
    const juce::File factoryFolder { KESTRINE_FACTORY_PRESETS };
}

TEST (RenderPresets, FindsAFactoryPresetByNameOrAnyFileAndListsThem)
{
    const auto texts = kestrine::test::factoryPresetTexts();
    const auto listed = listPresets (factoryFolder);
    ASSERT_EQ (listed.size(), texts.size());

    for (size_t i = 0; i < texts.size(); ++i)
    {
        EXPECT_EQ (listed[i].name, texts[i].name);
        EXPECT_EQ (listed[i].category, texts[i].category);
        EXPECT_EQ (listed[i].file, factoryFolder.getChildFile (texts[i].name + ".vstpreset"));
    }

    EXPECT_TRUE (describePresets (listed).contains ("\nWarm Edge  (Subtle)\n")) << describePresets (listed);

    const auto warmEdge = factoryFolder.getChildFile ("Warm Edge.vstpreset");
    const struct { juce::String given; juce::File expected; } found[] = {
        { "Warm Edge", warmEdge },
        { " warm edge ", warmEdge },                     // letter case and spaces aside
        { warmEdge.getFullPathName(), warmEdge },        // any file as it is
    };

    for (const auto& c : found)
    {
        juce::File file;
        const auto r = findPreset (c.given, factoryFolder, file);
        EXPECT_TRUE (r.wasOk()) << c.given << ": " << r.getErrorMessage();
        EXPECT_EQ (file, c.expected) << c.given;
    }

    const struct { juce::String given; const char* expected; } refused[] = {
        { "Cold Edge",                 "unknown preset \"Cold Edge\"; factory presets: Broken Fuzz, Drift Chorus, " },
        { "/nowhere/Cold.vstpreset",   "cannot read preset /nowhere/Cold.vstpreset: no such file" },
        { "missing.vstpreset",         "missing.vstpreset: no such file" },
    };

    for (const auto& c : refused)
    {
        juce::File file;
        const auto r = findPreset (c.given, factoryFolder, file);
        EXPECT_TRUE (r.failed()) << c.given;
        EXPECT_TRUE (r.getErrorMessage().contains (c.expected)) << c.given << " -> " << r.getErrorMessage();
    }
}

TEST_F (RenderTool, PresetFilesOfAnotherPluginTruncatedOrBrokenAreRefusedAndChangeNothing)
{
    namespace vst = kestrine::vstpreset;
    juce::MemoryBlock good;
    ASSERT_TRUE (factoryFolder.getChildFile ("Broken Fuzz.vstpreset").loadFileAsData (good));
    const auto* goodBytes = static_cast<const std::uint8_t*> (good.getData());
    const auto goodPreset = vst::read (goodBytes, good.getSize()).preset;
    ASSERT_TRUE (goodPreset.has_value());

    const auto writeBytes = [this] (const char* name, const void* data, size_t size)
    {
        EXPECT_TRUE (file (name).replaceWithData (data, size));
        return file (name);
    };

    const auto writePreset = [&] (const char* name, vst::Preset preset)
    {
        const auto bytes = vst::write (preset);
        EXPECT_TRUE (bytes.has_value());
        return writeBytes (name, bytes->data(), bytes->size());
    };

    auto otherPlugin = *goodPreset;
    otherPlugin.classId = "0123456789ABCDEF0123456789ABCDEF";
    auto withoutComp = *goodPreset;
    withoutComp.chunks.erase (withoutComp.chunks.begin());
    auto foreignComp = *goodPreset;
    foreignComp.chunks[0].data = { 'n', 'o', 't', ' ', 'K', 'e', 's', 't', 'r', 'i', 'n', 'e' };

    auto badList = std::vector<std::uint8_t> (goodBytes, goodBytes + good.getSize());
    const auto listOffset = static_cast<size_t> (juce::ByteOrder::littleEndianInt64 (goodBytes + 40));
    badList[listOffset] = 'l';

    const struct { juce::File file; const char* expected; } cases[] = {
        { writePreset ("other.vstpreset", otherPlugin),          "is for another plug-in: its class ID is 0123456789ABCDEF0123456789ABCDEF, Kestrine's is ABCDEF019182FAEB4D52564E4B535452" },
        { writeBytes ("cut.vstpreset", goodBytes, 100),          "is refused: truncated: the chunk list at offset" },
        { writeBytes ("header.vstpreset", goodBytes, 20),        "is refused: truncated: 20 bytes" },
        { writeBytes ("list.vstpreset", badList.data(), badList.size()), "is refused: bad chunk list: no \"List\" tag" },
        { writePreset ("nocomp.vstpreset", withoutComp),         "has no \"Comp\" chunk" },
        { writePreset ("foreign.vstpreset", foreignComp),        "its \"Comp\" chunk holds no Kestrine state block" },
        { writeBytes ("text.vstpreset", "just text", 9),         "is refused: truncated" },
        { file ("missing.vstpreset"),                            "missing.vstpreset: no such file" },
        { folder,                                                "it is a folder" },
    };

    juce::String error;
    const auto host = HostedPlugin::load (kestrine::host::PluginFormat::vst3, kestrine::test::builtBundle(), 48000.0, 512, error);
    ASSERT_NE (host, nullptr) << error;
    ASSERT_TRUE (host->applySettings ({ { "drywet", "0.25" }, { "amplitude2", "-0.3" } }).wasOk());
    const auto& parameters = host->instance().getParameters();

    for (const auto& c : cases)
    {
        juce::MemoryBlock state;
        const auto read = readComponentState (c.file, state);
        EXPECT_TRUE (read.failed()) << c.file.getFileName();
        EXPECT_TRUE (read.getErrorMessage().startsWith ("cannot read preset " + c.file.getFullPathName())
                     || read.getErrorMessage().startsWith ("preset " + c.file.getFullPathName())) << read.getErrorMessage();
        EXPECT_TRUE (read.getErrorMessage().contains (c.expected)) << c.file.getFileName() << " -> " << read.getErrorMessage();
        EXPECT_FALSE (read.getErrorMessage().containsAnyOf ("\r\n"));

        EXPECT_TRUE (host->loadPreset (c.file).failed());
        EXPECT_EQ (parameters[11]->getCurrentValueAsText(), "0.25") << c.file.getFileName();
        EXPECT_EQ (parameters[3]->getCurrentValueAsText(), "-0.30") << c.file.getFileName();
    }
}

TEST_F (RenderTool, APresetAppliesBeforeTheSettings)
{
    const auto texts = kestrine::test::factoryPresetTexts();
    const auto fuzz = std::find_if (texts.begin(), texts.end(), [] (const auto& p) { return p.name == "Broken Fuzz"; });
    ASSERT_NE (fuzz, texts.end());

    RenderOptions options;
    options.bundle = kestrine::test::builtBundle();
    options.factoryPresets = factoryFolder;
    options.preset = "Broken Fuzz";
    options.settings = { { "drywet", "0.5" } };
    options.stateToSave = file ("saved.state");

    RenderSummary summary;
    const auto ran = run (options, summary);
    ASSERT_TRUE (ran.wasOk()) << ran.getErrorMessage();

    for (const auto& [id, value] : fuzz->values)
        EXPECT_NEAR (savedValue (options.stateToSave, id.toRawUTF8()), id == "drywet" ? 0.5 : value, 1.0e-4) << id;
}

// The options on the command line: --list-presets prints the factory presets; --preset applies
// after --state and before --set, through the VST3 and the LV2 alike, by name or by file.
TEST_F (RenderTool, PresetOptionsListAndApplyThroughEitherFormat)
{
    const auto texts = kestrine::test::factoryPresetTexts();
    const auto listing = runTool ({ "--list-presets" });
    ASSERT_EQ (listing.exitCode, 0) << listing.output;
    juce::StringArray expectedLines;
    for (const auto& preset : texts)
        expectedLines.add (preset.name + "  (" + preset.category + ")");
    EXPECT_EQ (juce::StringArray::fromLines (listing.output.trimEnd()), expectedLines);

    const auto pulse = std::find_if (texts.begin(), texts.end(), [] (const auto& p) { return p.name == "Hollow Pulse"; });
    ASSERT_NE (pulse, texts.end());
    const auto earlier = file ("earlier.state");
    ASSERT_EQ (runTool ({ "--set", "drywet=0.1", "--set", "Width1=90", "--save-state", earlier.getFullPathName() }).exitCode, 0);

    const auto lv2 = juce::File (KESTRINE_LV2_BUNDLE_PATH).getFullPathName();
    const auto presetFile = factoryFolder.getChildFile ("Hollow Pulse.vstpreset").getFullPathName();
    const struct { const char* state; juce::StringArray extra; } runs[] = {
        { "vst3.state",      { "--preset", "hollow pulse" } },
        { "lv2.state",       { "--preset", "Hollow Pulse", "--bundle", lv2 } },
        { "lv2-file.state",  { "--preset", presetFile, "--format", "lv2" } },
    };

    for (const auto& r : runs)
    {
        juce::StringArray arguments { "--state", earlier.getFullPathName(), "--set", "drywet=0.5", "--save-state",
                                      file (r.state).getFullPathName() };
        arguments.addArray (r.extra);
        const auto ran = runTool (arguments);
        ASSERT_EQ (ran.exitCode, 0) << arguments.joinIntoString (" ") << ": " << ran.output;

        for (const auto& [id, value] : pulse->values)
            EXPECT_NEAR (savedValue (file (r.state), id.toRawUTF8()), id == "drywet" ? 0.5 : value, 1.0e-4) << r.state << " " << id;
    }

    EXPECT_TRUE (file ("lv2.state").hasIdenticalContentTo (file ("vst3.state")));

    const auto input = file ("in.wav");
    ASSERT_TRUE (writeWavFile (input, testSignal (2, 4000), 48000.0, OutputFormat::float32).wasOk());
    file ("bad.vstpreset").replaceWithText ("not a preset");
    const auto before = folderContents();
    const auto in = input.getFullPathName();
    const auto out = file ("out.wav").getFullPathName();
    const struct { juce::StringArray arguments; int exitCode; const char* expected; } failures[] = {
        { { in, out, "--preset", "Cold Edge" },                                1, "unknown preset \"Cold Edge\"; factory presets: Broken Fuzz" },
        { { in, out, "--preset", file ("bad.vstpreset").getFullPathName() },   1, "bad.vstpreset is refused: truncated" },
        { { in, out, "--preset", file ("none.vstpreset").getFullPathName() },  1, "none.vstpreset: no such file" },
        { { in, out, "--bundle", lv2, "--preset", "Cold Edge" },               1, "unknown preset \"Cold Edge\"" },
        { { in, out, "--preset" },                                             2, "--preset needs" },
    };

    for (const auto& f : failures)
    {
        const auto ran = runTool (f.arguments);
        const auto description = f.arguments.joinIntoString (" ");
        EXPECT_EQ (ran.exitCode, f.exitCode) << description << ": " << ran.output;
        EXPECT_TRUE (ran.output.startsWith ("kestrine-render: ") && ran.output.contains (f.expected)) << description << " -> " << ran.output;
        EXPECT_EQ (ran.output.trimEnd().indexOfAnyOf ("\r\n"), -1) << "more than one line: " << ran.output;
        EXPECT_EQ (folderContents(), before) << description << " left a file behind";
    }
}

TEST_F (RenderTool, DemoWritesItsInputOutputAndPicture)
{
    const auto demo = folder.getChildFile ("demo");
    const auto run = runTool ({ "--demo", demo.getFullPathName() });
    ASSERT_EQ (run.exitCode, 0) << run.output;
    EXPECT_TRUE (run.output.trimEnd().endsWith ("Demo written to " + demo.getFullPathName())) << run.output;

    const auto in = read (demo.getChildFile ("input.wav"));
    const auto out = read (demo.getChildFile ("output.wav"));
    ASSERT_EQ (in.getNumChannels(), 2);
    EXPECT_GE (in.getNumSamples(), 4 * 48000);
    ASSERT_EQ (out.getNumSamples(), in.getNumSamples());
    EXPECT_NEAR (in.getMagnitude (0, in.getNumSamples()), 0.5f, 0.001f);
    EXPECT_LT (out.getMagnitude (0, out.getNumSamples()), 1.0f);   // nothing clipped in the 24-bit file

    // Plainly audible: the output differs from the time-aligned input by more than a tenth of its level.
    double difference = 0.0, level = 0.0;
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < in.getNumSamples(); ++i)
        {
            difference += juce::square (static_cast<double> (out.getSample (c, i) - in.getSample (c, i)));
            level += juce::square (static_cast<double> (in.getSample (c, i)));
        }
    EXPECT_GT (std::sqrt (difference / level), 0.1);

    const auto picture = juce::ImageFileFormat::loadFrom (demo.getChildFile ("waveforms.png"));
    ASSERT_TRUE (picture.isValid());
    EXPECT_EQ (picture.getWidth(), 1600);
    EXPECT_EQ (picture.getHeight(), 1000);

    // The input through each factory preset, aligned with it; a preset with the output at full
    // wet changes the sound plainly, one at full dry would give the input back.
    juce::StringArray expected, renderings;

    for (const auto& preset : kestrine::test::factoryPresetTexts())
    {
        expected.add (preset.name + ".wav");
        const auto rendered = read (demo.getChildFile ("presets").getChildFile (preset.name + ".wav"));
        ASSERT_EQ (rendered.getNumChannels(), 2) << preset.name;
        ASSERT_EQ (rendered.getNumSamples(), in.getNumSamples()) << preset.name;
        EXPECT_GT (largestDifference (in, rendered), 0.01f) << preset.name;
    }

    for (const auto& f : demo.getChildFile ("presets").findChildFiles (juce::File::findFiles, false))
        renderings.add (f.getFileName());

    expected.sort (false);
    renderings.sort (false);
    EXPECT_EQ (renderings, expected);

    const auto sheet = juce::ImageFileFormat::loadFrom (demo.getChildFile ("presets.png"));
    ASSERT_TRUE (sheet.isValid());
    EXPECT_EQ (sheet.getWidth(), 1600);
}

//==============================================================================
// A bundle ending in .lv2 is loaded as an LV2: the same settings and input give the same file
// as through the VST3, mono (through the LV2's stereo ports) and stereo, and the state files
// that both write hold the same block and load into either.
TEST_F (RenderTool, AnLv2BundleRendersAndSavesWhatTheVst3Does)
{
    const auto lv2 = juce::File (KESTRINE_LV2_BUNDLE_PATH).getFullPathName();
    const juce::StringArray settings { "--set", "amplitude1=0.3", "--set", "Width2=70", "--set", "distortion=0.4",
                                       "--set", "drywet=0.8", "--float" };

    for (const auto channels : { 1, 2 })
    {
        SCOPED_TRACE (channels == 1 ? "mono" : "stereo");
        const auto input = file ("in.wav");
        ASSERT_TRUE (writeWavFile (input, testSignal (channels, 20000), 48000.0, OutputFormat::float32).wasOk());

        auto arguments = [&] (const char* output, const char* state, juce::StringArray extra)
        {
            juce::StringArray all { input.getFullPathName(), file (output).getFullPathName(), "--save-state",
                                    file (state).getFullPathName() };
            all.addArray (extra);
            return all;
        };

        auto withLv2 = settings;
        withLv2.addArray ({ "--bundle", lv2 });
        const auto throughVst3 = runTool (arguments ("vst3.wav", "vst3.state", settings));
        const auto throughLv2 = runTool (arguments ("lv2.wav", "lv2.state", withLv2));
        ASSERT_EQ (throughVst3.exitCode, 0) << throughVst3.output;
        ASSERT_EQ (throughLv2.exitCode, 0) << throughLv2.output;

        const auto vst3Out = read (file ("vst3.wav"));
        EXPECT_EQ (vst3Out.getNumChannels(), channels);
        EXPECT_EQ (largestDifference (vst3Out, read (file ("lv2.wav"))), 0.0f);
        EXPECT_TRUE (file ("vst3.state").hasIdenticalContentTo (file ("lv2.state")));

        // Each format's state file, loaded into the other, renders the same again.
        const auto crossed = runTool ({ input.getFullPathName(), file ("crossed.wav").getFullPathName(), "--float",
                                        "--bundle", lv2, "--state", file ("vst3.state").getFullPathName() });
        ASSERT_EQ (crossed.exitCode, 0) << crossed.output;
        EXPECT_EQ (largestDifference (vst3Out, read (file ("crossed.wav"))), 0.0f);
    }

    // --format lv2 alone loads this build's LV2; with a bundle whose name has no extension it
    // says how to load it.
    const auto linked = file ("KestrineLink");
    ASSERT_TRUE (juce::File (KESTRINE_LV2_BUNDLE_PATH).createSymbolicLink (linked, true));

    for (const auto& bundleArguments : { juce::StringArray { "--format", "lv2" },
                                         juce::StringArray { "--format", "lv2", "--bundle", linked.getFullPathName() } })
    {
        auto arguments = settings;
        arguments.addArray ({ file ("in.wav").getFullPathName(), file ("chosen.wav").getFullPathName() });
        arguments.addArray (bundleArguments);
        const auto chosen = runTool (arguments);
        ASSERT_EQ (chosen.exitCode, 0) << arguments.joinIntoString (" ") << ": " << chosen.output;
        EXPECT_EQ (largestDifference (read (file ("vst3.wav")), read (file ("chosen.wav"))), 0.0f) << arguments.joinIntoString (" ");
    }

    const auto emptyBundle = file ("Empty.lv2");
    ASSERT_TRUE (emptyBundle.createDirectory());
    const auto in = file ("in.wav").getFullPathName();
    const auto out = file ("out.wav").getFullPathName();
    const auto vst3 = kestrine::test::builtBundle().getFullPathName();
    const struct { juce::StringArray arguments; int exitCode; const char* expected; } failures[] = {
        { { in, out, "--bundle", file ("Nowhere.lv2").getFullPathName() },                1, "LV2 plug-in bundle not found" },
        { { in, out, "--bundle", emptyBundle.getFullPathName() },                         1, "no LV2 plug-in could be loaded" },
        { { in, out, "--format", "lv2", "--bundle", file ("Nowhere").getFullPathName() }, 1, "LV2 plug-in bundle not found" },
        { { in, out, "--format", "lv2", "--bundle", in },                                 1, "it holds no manifest.ttl naming" },
        { { in, out, "--format", "vst3", "--bundle", linked.getFullPathName() },          1, "it is not a .vst3 bundle" },
        { { in, out, "--format", "lv2", "--bundle", vst3 },                               2, "which is a VST3 bundle" },
        { { in, out, "--format", "vst3", "--bundle", lv2 },                               2, "which is an LV2 bundle" },
        { { in, out, "--format", "au" },                                                  2, "--format must be vst3 or lv2" },
    };

    for (const auto& f : failures)
    {
        const auto run = runTool (f.arguments);
        EXPECT_EQ (run.exitCode, f.exitCode) << f.arguments.joinIntoString (" ") << ": " << run.output;
        EXPECT_TRUE (run.output.startsWith ("kestrine-render: ") && run.output.contains (f.expected)) << run.output;
        EXPECT_EQ (run.output.trimEnd().indexOfAnyOf ("\r\n"), -1) << "more than one line: " << run.output;
        EXPECT_FALSE (file ("out.wav").exists());
    }
}
