// The LV2 bundle and the standalone application: the bundle's Turtle files and how LV2 tools
// read them, the LV2 as JUCE's LV2 hosting sees it, the factory presets' LV2 bundle, the same
// samples and state through the VST3 and the LV2, repeated loading, and the application's window.

#include "FactoryPresetTexts.h"
#include "PluginHost.h"
#include "PluginLoader.h"
#include "PluginProcessor.h"
#include "StateBlockBuilders.h"
#include "TestHelpers.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

using namespace kestrine::host;

namespace
{
    const juce::String pluginUri = JucePlugin_LV2URI;
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;
    constexpr int latency = 1600;

    juce::File lv2Bundle()   { return juce::File (KESTRINE_LV2_BUNDLE_PATH); }
    juce::File lv2Presets()  { return juce::File (KESTRINE_LV2_PRESETS_BUNDLE); }
    juce::File vst3Bundle()  { return juce::File (KESTRINE_BUNDLE_PATH); }
    juce::File bundleOf (PluginFormat format) { return format == PluginFormat::lv2 ? lv2Bundle() : vst3Bundle(); }

    /** Runs a command; the limit only keeps a broken tool from hanging the suite. */
    kestrine::test::CommandRun run (const juce::StringArray& command, juce::uint32 limitMs = 120000)
    {
        auto result = kestrine::test::runCommand (command, limitMs);

        if (! result.started)
            result.output += " (scripts/test.sh installs the tools the tests use)";

        return result;
    }

    /** The lilv tools see the folder holding the built bundle and the LV2 specifications. */
    juce::StringArray withLv2Path (const juce::StringArray& command)
    {
        juce::StringArray withEnvironment { "env", "LV2_PATH=" + lv2Bundle().getParentDirectory().getFullPathName()
                                                       + ":/usr/lib/lv2" };
        withEnvironment.addArray (command);
        return withEnvironment;
    }

    std::unique_ptr<juce::AudioPluginInstance> load (PluginFormat format)
    {
        juce::String error;
        auto plugin = loadPlugin (format, bundleOf (format), sampleRate, blockSize, error);
        EXPECT_NE (plugin, nullptr) << error.toStdString();
        return plugin;
    }

    juce::AudioProcessor::BusesLayout layoutOf (const juce::AudioChannelSet& set)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (set);
        layout.outputBuses.add (set);
        return layout;
    }

    /** A state block with every bump, the distortion and the mix away from their defaults and
        Move at 0, so that the bumps stay where they are. */
    juce::MemoryBlock audibleSettings()
    {
        CompressorAudioProcessor processor;
        const std::pair<const char*, float> values[] {
            { "amplitude1", 0.3f }, { "frequency1", 150.0f }, { "wavelength1", 40.0f },
            { "amplitude2", -0.25f }, { "frequency2", 420.0f }, { "wavelength2", 70.0f },
            { "amplitude3", 0.2f }, { "frequency3", 650.0f }, { "wavelength3", 25.0f },
            { "velocity", 0.0f }, { "distortion", 0.4f }, { "drywet", 0.85f }, { "backColor", 2.0f }
        };

        for (const auto& [id, value] : values)
        {
            auto* parameter = processor.parameters.getParameter (id);
            parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
        }

        juce::MemoryBlock block;
        processor.getStateInformation (block);
        return block;
    }

    /** Two decaying tones and a little noise, different on each channel. */
    juce::AudioBuffer<float> testSignal (int channels, int frames)
    {
        juce::AudioBuffer<float> signal (channels, frames);
        juce::Random random (12345);

        for (int channel = 0; channel < channels; ++channel)
            for (int i = 0; i < frames; ++i)
            {
                const auto t = static_cast<float> (i) / static_cast<float> (sampleRate);
                const auto decay = std::exp (-1.5f * t);
                signal.setSample (channel, i, decay * (0.5f * std::sin (2.0f * juce::MathConstants<float>::pi * (110.0f + 55.0f * static_cast<float> (channel)) * t)
                                                       + 0.25f * std::sin (2.0f * juce::MathConstants<float>::pi * 277.0f * t))
                                                  + 0.01f * (random.nextFloat() - 0.5f));
            }

        return signal;
    }

    /** Processes the signal in place, block by block. */
    void render (juce::AudioPluginInstance& plugin, juce::AudioBuffer<float>& signal)
    {
        juce::MidiBuffer midi;

        for (int start = 0; start < signal.getNumSamples(); start += blockSize)
        {
            const auto length = juce::jmin (blockSize, signal.getNumSamples() - start);
            juce::AudioBuffer<float> view (signal.getArrayOfWritePointers(), signal.getNumChannels(), start, length);
            plugin.processBlock (view, midi);
        }
    }


}

//==============================================================================
TEST (LV2Bundle, TurtleFilesPassTheLV2Validator)
{
    juce::StringArray command { "lv2_validate" };

    for (const auto& file : lv2Bundle().findChildFiles (juce::File::findFiles, false, "*.ttl"))
        command.add (file.getFullPathName());

    ASSERT_EQ (command.size(), 4) << "manifest.ttl, dsp.ttl and ui.ttl in " << lv2Bundle().getFullPathName();

    const auto result = run (command);
    EXPECT_EQ (result.exitCode, 0) << result.output;
    EXPECT_TRUE (result.output.contains ("Found 0 errors")) << result.output;
}

TEST (LV2Bundle, LilvToolsListTheFullUriAndReadTheBundle)
{
    // Debian's JUCE falls back to the plug-in's bare name as the URI unless the build defines it.
    const auto listed = run (withLv2Path ({ "lv2ls" }));
    ASSERT_EQ (listed.exitCode, 0) << listed.output;
    EXPECT_EQ (juce::StringArray::fromLines (listed.output.trim()), juce::StringArray (pluginUri)) << listed.output;

    const auto info = run (withLv2Path ({ "lv2info", pluginUri }));
    ASSERT_EQ (info.exitCode, 0) << info.output;

    for (const auto* line : { "Name:              Kestrine",
                              "Class:             Dynamics Plugin",
                              "Author:            Morvane Audio",
                              "Author Email:      mailto:support@morvane-audio.com",
                              "Has latency:       yes, reported by port 6",
                              "Symbol:      latency",
                              "Designation: http://lv2plug.in/ns/lv2core#enabled" })
        EXPECT_TRUE (info.output.contains (line)) << line << "\n" << info.output;

    EXPECT_FALSE (info.output.containsIgnoreCase ("error")) << info.output;
    EXPECT_FALSE (info.output.containsIgnoreCase ("warning")) << info.output;
    EXPECT_FALSE (info.output.containsIgnoreCase ("midi")) << info.output;
}

//==============================================================================
// An LV2 host keeps the first bundle it finds for a URI: the loader refuses a bundle when
// another, different Kestrine bundle sits where the host would look too, and accepts an
// identical copy. A folder without a Kestrine manifest, or of the other format, is refused.
TEST (LV2Host, LoaderRefusesABundleThatAnotherKestrineWouldShadow)
{
    const kestrine::test::ScratchFolder scratch ("kestrine-format-test");
    const auto& folder = scratch.folder;
    const auto bundle = folder.getChildFile ("Kestrine.lv2");
    const auto copy = folder.getChildFile ("Copy.lv2");
    ASSERT_TRUE (lv2Bundle().copyDirectoryTo (bundle));
    ASSERT_TRUE (lv2Bundle().copyDirectoryTo (copy));

    // The presets' bundle names Kestrine too, as what its presets apply to: no rival.
    ASSERT_TRUE (lv2Presets().copyDirectoryTo (folder.getChildFile ("Kestrine-presets.lv2")));

    juce::String error;
    EXPECT_NE (loadPlugin (PluginFormat::lv2, bundle, sampleRate, blockSize, error), nullptr) << error;

    copy.getChildFile ("dsp.ttl").appendText ("\n# another build\n");
    EXPECT_EQ (loadPlugin (PluginFormat::lv2, bundle, sampleRate, blockSize, error), nullptr);
    EXPECT_TRUE (error.contains (copy.getFullPathName())) << error;

    const auto empty = folder.getChildFile ("Empty.lv2");
    ASSERT_TRUE (empty.createDirectory());
    const struct { PluginFormat format; juce::File bundle; const char* expected; } refused[] {
        { PluginFormat::lv2,  empty,                                   "holds no manifest.ttl naming" },
        { PluginFormat::lv2,  vst3Bundle(),                            "it is a VST3 bundle" },
        { PluginFormat::vst3, lv2Bundle(),                             "it is an LV2 bundle" },
        { PluginFormat::lv2,  folder.getChildFile ("Missing.lv2"),     "LV2 plug-in bundle not found" },
    };

    for (const auto& r : refused)
    {
        EXPECT_EQ (loadPlugin (r.format, r.bundle, sampleRate, blockSize, error), nullptr);
        EXPECT_TRUE (error.contains (r.expected)) << error;
    }
}

// A JUCE LV2 shows the enabled port as the bypass first, then its parameters (LV2 patch
// properties) in the order of their URIs; names, ranges and defaults are the plug-in's own.
TEST (LV2Host, PresentsTheIdentityParametersBypassAndLatency)
{
    auto plugin = load (PluginFormat::lv2);
    ASSERT_NE (plugin, nullptr);

    juce::PluginDescription description;
    plugin->fillInPluginDescription (description);
    EXPECT_EQ (description.name, "Kestrine");
    EXPECT_EQ (description.manufacturerName, "Morvane Audio");
    EXPECT_EQ (description.category, "Dynamics Plugin");
    EXPECT_EQ (description.pluginFormatName, "LV2");
    EXPECT_EQ (description.fileOrIdentifier, pluginUri);
    EXPECT_FALSE (description.isInstrument);
    EXPECT_EQ (description.numInputChannels, 2);
    EXPECT_EQ (description.numOutputChannels, 2);

    struct Expected
    {
        const char* id;
        const char* name;
        const char* minimum;
        const char* maximum;
        const char* defaultValue;
    };

    const Expected expected[] {
        { "amplitude1", "Amplitude1", "-0.5", "0.5", "0" },   { "amplitude2", "Amplitude2", "-0.5", "0.5", "0" },
        { "amplitude3", "Amplitude3", "-0.5", "0.5", "0" },   { "backColor", "BackColor", "0", "5", "0" },
        { "distortion", "Distortion", "-1", "1", "0" },       { "drywet", "Dry/Wet", "0", "1", "1" },
        { "frequency1", "Position1", "0", "800", "200" },     { "frequency2", "Position2", "0", "800", "400" },
        { "frequency3", "Position3", "0", "800", "600" },     { "velocity", "Velocity", "-1", "1", "0" },
        { "wavelength1", "Width1", "5", "100", "50" },        { "wavelength2", "Width2", "5", "100", "50" },
        { "wavelength3", "Width3", "5", "100", "50" },
    };

    const auto& parameters = plugin->getParameters();
    ASSERT_EQ (parameters.size(), 14);

    auto* bypass = plugin->getBypassParameter();
    ASSERT_EQ (bypass, parameters[0]);
    EXPECT_EQ (bypass->getName (64), "Bypass");
    EXPECT_EQ (bypass->getDefaultValue(), 0.0f);

    for (size_t i = 0; i < std::size (expected); ++i)
    {
        const auto& e = expected[i];
        auto* parameter = parameters[static_cast<int> (i) + 1];
        auto* hosted = dynamic_cast<juce::HostedAudioProcessorParameter*> (parameter);
        ASSERT_NE (hosted, nullptr);
        EXPECT_EQ (hosted->getParameterID(), "des:" + pluginUri + ":" + e.id);
        EXPECT_EQ (parameter->getName (64), e.name) << e.id;
        EXPECT_EQ (parameter->getText (0.0f, 64), e.minimum) << e.id;
        EXPECT_EQ (parameter->getText (1.0f, 64), e.maximum) << e.id;
        EXPECT_EQ (parameter->getText (parameter->getDefaultValue(), 64), e.defaultValue) << e.id;
        EXPECT_TRUE (parameter->isAutomatable()) << e.id;
    }

    EXPECT_FALSE (plugin->acceptsMidi());
    EXPECT_FALSE (plugin->producesMidi());
    EXPECT_TRUE (plugin->hasEditor());

    // The ports are stereo; a mono layout is not offered.
    EXPECT_TRUE (plugin->checkBusesLayoutSupported (layoutOf (juce::AudioChannelSet::stereo())));
    EXPECT_FALSE (plugin->checkBusesLayoutSupported (layoutOf (juce::AudioChannelSet::mono())));

    prepare (*plugin, PluginFormat::lv2, sampleRate, blockSize);
    EXPECT_EQ (plugin->getLatencySamples(), latency);
}

// The LV2 state holds the very block that the VST3 stores; a hostile block (or a state the
// host cannot read) changes nothing, in both formats.
TEST (LV2Host, StateHoldsTheVst3sBlockAndIgnoresHostileOnes)
{
    const auto settings = audibleSettings();
    const auto text = std::string (static_cast<const char*> (settings.getData()) + kestrine::state::headerBytes,
                                   settings.getSize() - kestrine::state::overheadBytes);

    const std::vector<std::pair<const char*, juce::MemoryBlock>> hostile {
        { "shorter than a header", juce::MemoryBlock ("VC2!", 4) },
        { "no magic number", juce::MemoryBlock (text.data(), text.size()) },
        { "length zero", kestrine::test::memoryBlockOf (kestrine::test::blockOf (text, 0)) },
        { "length negative", kestrine::test::memoryBlockOf (kestrine::test::blockOf (text, -5)) },
        { "not well-formed", kestrine::test::memoryBlockOf (kestrine::test::blockOf ("<?xml version=\"1.0\"?> <PARAMETERS><PARAM id=")) },
        { "other root", kestrine::test::memoryBlockOf (kestrine::test::blockOf ("<?xml version=\"1.0\"?> <OTHER/>")) },
    };

    for (const auto format : { PluginFormat::vst3, PluginFormat::lv2 })
    {
        SCOPED_TRACE (formatName (format).toStdString());
        auto plugin = load (format);
        ASSERT_NE (plugin, nullptr);

        restoreStateBlock (*plugin, format, settings);
        EXPECT_TRUE (saveStateBlock (*plugin, format) == settings);

        for (const auto& [what, block] : hostile)
        {
            restoreStateBlock (*plugin, format, block);
            EXPECT_TRUE (saveStateBlock (*plugin, format) == settings) << what;
        }

        // A host state that is not the format's at all.
        const juce::String garbage ("@prefix broken <");
        plugin->setStateInformation (garbage.toRawUTF8(), static_cast<int> (garbage.getNumBytesAsUTF8()));
        EXPECT_TRUE (saveStateBlock (*plugin, format) == settings);
    }
}

// An LV2 host prepares the plug-in as it makes it and restores the saved state afterwards; the
// restored values then apply at once, as they do when a VST3 host restores before preparing.
// Once audio runs, a restore glides in every format.
TEST (LV2Host, StateRestoredBeforeTheFirstBlockAppliesAtOnce)
{
    const auto settings = audibleSettings();

    struct Case
    {
        juce::AudioProcessor::WrapperType wrapper;
        bool processedFirst;
        bool jumps;
    };

    const Case cases[] {
        { juce::AudioProcessor::wrapperType_LV2,  false, true },
        { juce::AudioProcessor::wrapperType_LV2,  true,  false },
        { juce::AudioProcessor::wrapperType_VST3, false, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (juce::AudioProcessor::getWrapperTypeDescription (c.wrapper)).toStdString()
                      + (c.processedFirst ? ", after a block" : ", before the first block"));

        juce::AudioProcessor::setTypeOfNextNewPlugin (c.wrapper);
        CompressorAudioProcessor processor;
        juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Undefined);
        processor.prepareToPlay (sampleRate, blockSize);

        if (c.processedFirst)
        {
            juce::AudioBuffer<float> silence (2, blockSize);
            silence.clear();
            juce::MidiBuffer midi;
            processor.processBlock (silence, midi);
        }

        processor.setStateInformation (settings.getData(), static_cast<int> (settings.getSize()));

        const auto dryWet = processor.parameters.getRawParameterValue ("drywet")->load();
        const auto distortion = processor.parameters.getRawParameterValue ("distortion")->load();
        ASSERT_NE (dryWet, 1.0f);
        EXPECT_EQ (processor.dryWet.target.load(), dryWet);
        EXPECT_EQ (processor.dryWet.current.load(), c.jumps ? dryWet : 1.0f);
        EXPECT_EQ (processor.distortion.current.load(), c.jumps ? distortion : 0.0f);
    }
}

//==============================================================================
// The factory presets as LV2 presets, in a bundle of their own beside Kestrine.lv2.
TEST (LV2Presets, TheBundlePassesTheLV2ValidatorAndLilvListsEveryPreset)
{
    std::vector<kestrine::assets::FactoryPreset> presets;
    ASSERT_TRUE (kestrine::test::readFactoryPresetTexts (presets).wasOk());

    // Validated together with the plug-in's own files, which define what the presets apply to.
    juce::StringArray command { "lv2_validate" };

    for (const auto& bundle : { lv2Bundle(), lv2Presets() })
        for (const auto& file : bundle.findChildFiles (juce::File::findFiles, false, "*.ttl"))
            command.add (file.getFullPathName());

    ASSERT_EQ (command.size(), 1 + 3 + 1 + static_cast<int> (presets.size()));
    const auto validated = run (command);
    EXPECT_EQ (validated.exitCode, 0) << validated.output;
    EXPECT_TRUE (validated.output.contains ("Found 0 errors")) << validated.output;

    const auto info = run (withLv2Path ({ "lv2info", pluginUri }));
    ASSERT_EQ (info.exitCode, 0) << info.output;
    const auto listed = info.output.fromFirstOccurrenceOf ("Presets:", false, false);
    EXPECT_TRUE (listed.contains ("Default")) << info.output;   // the one program

    for (const auto& preset : presets)
        EXPECT_TRUE (listed.contains (preset.name)) << preset.name << "\n" << info.output;

    EXPECT_FALSE (info.output.containsIgnoreCase ("error")) << info.output;
    EXPECT_FALSE (info.output.containsIgnoreCase ("warning")) << info.output;
}

// JUCE's LV2 hosting offers an LV2's presets as its programs: selecting one restores it.
TEST (LV2Presets, AHostRestoringEachPresetGetsEveryParameterOfIt)
{
    std::vector<kestrine::assets::FactoryPreset> presets;
    ASSERT_TRUE (kestrine::test::readFactoryPresetTexts (presets).wasOk());
    ASSERT_FALSE (presets.empty());

    auto plugin = load (PluginFormat::lv2);
    ASSERT_NE (plugin, nullptr);
    prepare (*plugin, PluginFormat::lv2, sampleRate, blockSize);

    juce::StringArray programs;

    for (int i = 0; i < plugin->getNumPrograms(); ++i)
        programs.add (plugin->getProgramName (i));

    ASSERT_EQ (programs.size(), static_cast<int> (presets.size()) + 1) << programs.joinIntoString (", ");
    EXPECT_TRUE (programs.contains ("Default"));

    const CompressorAudioProcessor reference;   // the normalised form of a plain value

    for (const auto& preset : presets)
    {
        SCOPED_TRACE (preset.name.toStdString());
        const auto program = programs.indexOf (preset.name);
        ASSERT_GE (program, 0) << programs.joinIntoString (", ");
        plugin->setCurrentProgram (program);

        // What the plug-in now stores is the preset: every parameter at the preset's value.
        CompressorAudioProcessor restored;
        const auto block = saveStateBlock (*plugin, PluginFormat::lv2);
        ASSERT_GT (block.getSize(), 0u);
        restored.setStateInformation (block.getData(), static_cast<int> (block.getSize()));

        // And what the host shows, once a process call has brought the plug-in's values over.
        juce::AudioBuffer<float> none (2, 0);
        juce::MidiBuffer midi;
        plugin->processBlock (none, midi);

        for (const auto& entry : preset.values)
        {
            const auto& [id, value] = entry;
            const auto hostedId = "des:" + pluginUri + ":" + id;
            auto* ranged = reference.parameters.getParameter (id);
            ASSERT_NE (ranged, nullptr) << id;
            const auto expected = ranged->convertTo0to1 (static_cast<float> (value));
            EXPECT_NEAR (restored.parameters.getParameter (id)->getValue(), expected, 1.0e-6f) << id;

            const auto hosted = std::find_if (plugin->getParameters().begin(), plugin->getParameters().end(), [&] (auto* p)
            {
                const auto* withId = dynamic_cast<juce::HostedAudioProcessorParameter*> (p);
                return withId != nullptr && withId->getParameterID() == hostedId;
            });
            ASSERT_NE (hosted, plugin->getParameters().end()) << id;
            EXPECT_NEAR ((*hosted)->getValue(), expected, 1.0e-5f) << id;
        }
    }
}

//==============================================================================
// The same settings and input give the same samples through both formats. The LV2 offers a
// stereo layout only; a mono signal goes to both of its channels, which the engine's mono sum
// reads as the mono signal itself.
TEST (Formats, Vst3AndLv2RenderTheSameSamples)
{
    const auto settings = audibleSettings();
    constexpr int frames = 48000;

    for (const auto channels : { 2, 1 })
    {
        SCOPED_TRACE (channels == 1 ? "mono" : "stereo");
        const auto input = testSignal (channels, frames);

        auto vst3 = load (PluginFormat::vst3);
        auto lv2 = load (PluginFormat::lv2);
        ASSERT_TRUE (vst3 != nullptr && lv2 != nullptr);

        ASSERT_TRUE (vst3->setBusesLayout (layoutOf (juce::AudioChannelSet::canonicalChannelSet (channels))));

        for (auto* plugin : { vst3.get(), lv2.get() })
        {
            const auto format = plugin == lv2.get() ? PluginFormat::lv2 : PluginFormat::vst3;
            restoreStateBlock (*plugin, format, settings);
            prepare (*plugin, format, sampleRate, blockSize);
            EXPECT_EQ (plugin->getLatencySamples(), latency);
        }

        auto throughVst3 = input;
        render (*vst3, throughVst3);

        juce::AudioBuffer<float> throughLv2 (2, frames);
        for (int channel = 0; channel < 2; ++channel)
            throughLv2.copyFrom (channel, 0, input, juce::jmin (channel, channels - 1), 0, frames);
        render (*lv2, throughLv2);

        bool audible = false;

        for (int channel = 0; channel < channels; ++channel)
            for (int i = 0; i < frames; ++i)
            {
                const auto expected = throughVst3.getSample (channel, i);
                ASSERT_EQ (throughLv2.getSample (channel, i), expected) << "channel " << channel << ", sample " << i;
                audible = audible || (i >= latency && std::abs (expected - input.getSample (channel, i - latency)) > 1.0e-3f);
            }

        EXPECT_TRUE (audible) << "the settings must change the sound, or the comparison proves little";

        if (channels == 1)
        {
            for (int i = 0; i < frames; ++i)
                ASSERT_EQ (throughLv2.getSample (1, i), throughLv2.getSample (0, i)) << i;
        }
    }
}

// Loading, processing, saving and restoring state and unloading, again and again in one
// process: nothing may crash, and the sanitizer build finds no leak at exit.
TEST (Formats, LoadProcessSaveRestoreAndUnloadFiftyTimes)
{
    constexpr int rounds = 50;
    const auto settings = audibleSettings();
    const auto input = testSignal (2, 4 * blockSize);

    for (int round = 0; round < rounds; ++round)
    {
        for (const auto format : { PluginFormat::vst3, PluginFormat::lv2 })
        {
            SCOPED_TRACE (formatName (format).toStdString() + " round " + juce::String (round).toStdString());
            auto plugin = load (format);
            ASSERT_NE (plugin, nullptr);

            restoreStateBlock (*plugin, format, settings);
            prepare (*plugin, format, sampleRate, blockSize);

            auto signal = input;
            render (*plugin, signal);

            for (int channel = 0; channel < 2; ++channel)
                for (int i = 0; i < signal.getNumSamples(); ++i)
                    ASSERT_TRUE (std::isfinite (signal.getSample (channel, i)));

            const auto saved = saveStateBlock (*plugin, format);
            ASSERT_TRUE (saved == settings);
            restoreStateBlock (*plugin, format, saved);
            ASSERT_TRUE (saveStateBlock (*plugin, format) == settings);

            plugin->releaseResources();
        }
    }
}

//==============================================================================
// The standalone application's audio settings offer both of its audio systems.
TEST (Standalone, AudioSettingsOfferJackAndAlsa)
{
    juce::AudioDeviceManager devices;
    juce::StringArray types;

    for (auto* type : devices.getAvailableDeviceTypes())
        types.add (type->getTypeName());

    EXPECT_TRUE (types.contains ("ALSA")) << types.joinIntoString (", ");
    EXPECT_TRUE (types.contains ("JACK")) << types.joinIntoString (", ") << " (JACK's library, libjack.so.0, must be installed)";
}

// Started as on a machine without a sound card, the application shows its window: the editor
// (840 x 520), the framework's 26-pixel title bar and 1-pixel border, and its 30-pixel notice
// that audio input is muted against feedback (the framework's default until the user unmutes
// input in the audio settings). SIGTERM and the window's close button both end it cleanly.
TEST (Standalone, ShowsTheEditorWithoutASoundCardAndQuitsCleanly)
{
    const juce::File script (juce::String (KESTRINE_SOURCE_DIR) + "/tests/scripts/standalone-window.sh");
    const juce::TemporaryFile picture (".png");
    constexpr int border = 1, titleBar = 26, inputMutedNotice = 30;
    const auto expectedWindow = juce::String (840 + 2 * border) + "x" + juce::String (520 + titleBar + inputMutedNotice + 2 * border);

    for (const auto* ending : { "sigterm", "close" })
    {
        SCOPED_TRACE (ending);
        const auto result = run ({ "xvfb-run", "-a", "bash", script.getFullPathName(), KESTRINE_STANDALONE_PATH,
                                   picture.getFile().getFullPathName(), ending });
        ASSERT_EQ (result.exitCode, 0) << result.output;

        const auto lines = juce::StringArray::fromLines (result.output);
        EXPECT_TRUE (lines.contains ("window=" + expectedWindow)) << result.output;
        EXPECT_TRUE (lines.contains ("exit=0")) << result.output;

        const auto image = juce::ImageFileFormat::loadFrom (picture.getFile());
        ASSERT_TRUE (image.isValid()) << result.output;
        EXPECT_EQ (juce::String (image.getWidth()) + "x" + juce::String (image.getHeight()), expectedWindow);
    }
}
