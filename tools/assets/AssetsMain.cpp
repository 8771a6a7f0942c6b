// Makes, at build time, what the plug-in's installers take from the preset texts in presets/:
//   - a VST3 preset file per preset, whose "Comp" chunk is what the built bundle's component
//     writes from getState once the preset's text is restored into it, and whose "Info" chunk
//     holds the preset's name and category;
//   - an LV2 bundle of presets, Kestrine-presets.lv2, in the form the framework's LV2 client
//     restores: the plug-in's state block in the framework's base-64 text under the plug-in's
//     "StateString" property;
//   - the bundle's snapshots: the editor drawn offscreen at 1x and 2x after a short musical
//     input ran through the processor with one of the presets.
// Every preset is checked first: a preset the plug-in would not take as written fails the build.
//
// kestrine-assets --presets DIR --bundle Kestrine.vst3 --vst3-presets DIR --lv2-presets DIR
//                 --snapshots DIR --snapshot-preset NAME
#include "DemoInput.h"
#include "EditorSnapshot.h"
#include "FactoryPreset.h"
#include "PluginLoader.h"
#include "PluginProcessor.h"
#include "StateBlock.h"
#include "ToolFiles.h"
#include "VstPresetFile.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <iostream>
#include <map>
#include <optional>

namespace
{
    using kestrine::assets::FactoryPreset;

    constexpr double sampleRate = kestrine::render::demoSampleRate;
    constexpr int blockSize = 512;
    constexpr double snapshotInputSeconds = 0.5;
    constexpr float normalisedTolerance = 1.0e-6f;
    const juce::String presetSuffix { ".vstpreset" };

    struct Arguments
    {
        juce::File presets, bundle, vst3Presets, lv2Presets, snapshots;
        juce::String snapshotPreset;
    };

    std::optional<Arguments> parseArguments (const juce::StringArray& arguments, juce::String& error)
    {
        std::map<juce::String, juce::String> values;

        for (int i = 0; i + 1 < arguments.size(); i += 2)
            values[arguments[i]] = arguments[i + 1];

        const juce::StringArray required { "--presets", "--bundle", "--vst3-presets", "--lv2-presets", "--snapshots",
                                           "--snapshot-preset" };

        if (arguments.size() != 2 * required.size())
        {
            error = "expected " + required.joinIntoString (" X ") + " X";
            return std::nullopt;
        }

        for (const auto& name : required)
        {
            if (values.count (name) == 0)
            {
                error = "missing " + name;
                return std::nullopt;
            }
        }

        const auto file = [] (const juce::String& path) { return juce::File::getCurrentWorkingDirectory().getChildFile (path); };
        return Arguments { file (values["--presets"]), file (values["--bundle"]), file (values["--vst3-presets"]),
                           file (values["--lv2-presets"]), file (values["--snapshots"]), values["--snapshot-preset"] };
    }

    /** Writes the bytes into the file, creating its folder if needed, through a temporary file
        that replaces the target only once it is complete. */
    juce::Result writeBytes (const juce::File& target, const void* data, size_t size)
    {
        if (const auto created = target.getParentDirectory().createDirectory(); created.failed())
            return juce::Result::fail ("cannot create " + target.getParentDirectory().getFullPathName() + ": " + created.getErrorMessage());

        return kestrine::render::writeAtomically (target, [&] (std::unique_ptr<juce::FileOutputStream> stream)
        {
            const auto wrote = stream->write (data, size);
            stream->flush();

            return wrote && stream->getStatus().wasOk() ? juce::Result::ok()
                                                        : juce::Result::fail ("cannot write " + target.getFullPathName());
        });
    }

    /** Restores each preset's text into the processor and checks that every parameter took the
        preset's value: the plug-in itself accepts the text as written. */
    juce::Result checkPresets (const std::vector<FactoryPreset>& presets)
    {
        CompressorAudioProcessor processor;

        for (const auto& preset : presets)
        {
            if (const auto checked = kestrine::assets::checkPreset (preset, processor); checked.failed())
                return checked;

            const auto block = preset.stateBlock();
            processor.setStateInformation (block.getData(), static_cast<int> (block.getSize()));

            for (const auto& [id, value] : preset.values)
            {
                auto* parameter = processor.parameters.getParameter (id);

                if (parameter == nullptr || std::abs (parameter->getValue() - parameter->convertTo0to1 (static_cast<float> (value))) > normalisedTolerance)
                    return juce::Result::fail (preset.name + ": the plug-in did not take " + id + " = " + juce::String (value)
                                               + " from the text");
            }
        }

        return juce::Result::ok();
    }

    /** The built bundle, loaded through the framework's VST3 hosting as a host loads it. */
    class HostedBundle
    {
    public:
        juce::Result load (const juce::File& bundle)
        {
            juce::String error;
            plugin = kestrine::host::loadPlugin (kestrine::host::PluginFormat::vst3, bundle, sampleRate, blockSize, error);
            return plugin != nullptr ? juce::Result::ok() : juce::Result::fail (error);
        }

        /** Restores the preset's state block into the component, as a host restores a project,
            checks that the host now sees each of the preset's values, and returns what the
            component's getState then writes. */
        juce::Result componentState (const FactoryPreset& preset, const juce::AudioProcessor& reference, juce::MemoryBlock& state)
        {
            kestrine::host::restoreStateBlock (*plugin, kestrine::host::PluginFormat::vst3, preset.stateBlock());

            // The host's parameters come in the plug-in's own order, the framework's bypass last.
            const auto& own = reference.getParameters();
            const auto& hosted = plugin->getParameters();

            for (int i = 0; i < own.size(); ++i)
            {
                auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (own[i]);
                const auto value = ranged != nullptr ? preset.valueOf (ranged->getParameterID()) : std::nullopt;

                if (i >= hosted.size() || ! value.has_value()
                    || std::abs (hosted[i]->getValue() - ranged->convertTo0to1 (static_cast<float> (*value))) > normalisedTolerance)
                    return juce::Result::fail (preset.name + ": the bundle did not take parameter " + juce::String (i + 1) + " from the preset");
            }

            state = kestrine::host::componentState (*plugin);

            if (! kestrine::state::extractText (state.getData(), static_cast<int> (state.getSize())).has_value())
                return juce::Result::fail (preset.name + ": the bundle's component wrote no state block");

            return juce::Result::ok();
        }

    private:
        std::unique_ptr<juce::AudioPluginInstance> plugin;
    };

    juce::Result writeVst3Presets (const std::vector<FactoryPreset>& presets, const juce::File& bundle, const juce::File& folder)
    {
        HostedBundle host;

        if (const auto loaded = host.load (bundle); loaded.failed())
            return loaded;

        const CompressorAudioProcessor reference;
        juce::StringArray written;

        for (const auto& preset : presets)
        {
            juce::MemoryBlock component;

            if (const auto r = host.componentState (preset, reference, component); r.failed())
                return r;

            namespace vst = kestrine::vstpreset;
            const auto* componentBytes = static_cast<const std::uint8_t*> (component.getData());
            const auto info = vst::metaInfoXml (kestrine::assets::pluginName().toStdString(), kestrine::assets::pluginCategory().toStdString(),
                                                preset.name.toStdString(), preset.category.toStdString());

            vst::Preset file;
            file.classId = kestrine::assets::componentClassId().toStdString();
            file.chunks.push_back ({ vst::componentStateId, { componentBytes, componentBytes + component.getSize() } });
            file.chunks.push_back ({ vst::metaInfoId, { info.begin(), info.end() } });

            const auto bytes = vst::write (file);

            if (! bytes.has_value())
                return juce::Result::fail (preset.name + ": cannot lay out the preset file");

            const auto target = folder.getChildFile (preset.name + presetSuffix);

            if (const auto r = writeBytes (target, bytes->data(), bytes->size()); r.failed())
                return r;

            written.add (target.getFileName());
        }

        // A preset whose text has gone leaves no file behind.
        kestrine::render::deleteFilesNotIn (folder, "*" + presetSuffix, written);

        return juce::Result::ok();
    }

    /** A Turtle string literal: the text between quotes, with quotes, backslashes and line
        breaks escaped. */
    juce::String turtleString (const juce::String& text)
    {
        return "\"" + text.replace ("\\", "\\\\").replace ("\"", "\\\"").replace ("\n", "\\n").replace ("\r", "\\r") + "\"";
    }

    /** The preset's name as the last part of its URI and its file name: letters and digits,
        words joined by hyphens ("Warm Edge" -> "warm-edge"). */
    juce::String presetSlug (const juce::String& name)
    {
        juce::String slug;

        for (const auto c : name.toLowerCase())
        {
            if (juce::CharacterFunctions::isLetterOrDigit (c) && c < 128)
                slug += juce::String::charToString (c);
            else if (slug.isNotEmpty() && ! slug.endsWithChar ('-'))
                slug += "-";
        }

        return slug.trimCharactersAtEnd ("-");
    }

    juce::Result writeText (const juce::File& target, const juce::String& text)
    {
        return writeBytes (target, text.toRawUTF8(), text.getNumBytesAsUTF8());
    }

    /** The presets as an LV2 bundle of their own: a manifest that names each preset and the
        plug-in it applies to, and one Turtle file per preset with its label, description and
        state. The state is what the framework's LV2 client stores and restores: the plug-in's
        state block, as the processor writes it once the preset is restored into it, in the
        framework's base-64 text under the plug-in's "StateString" property. */
    juce::Result writeLv2Presets (const std::vector<FactoryPreset>& presets, const juce::File& bundle)
    {
        const juce::String pluginUri { JucePlugin_LV2URI };
        const auto stateProperty = kestrine::host::lv2StateProperty();
        const juce::String prefixes = "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
                                      "@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .\n"
                                      "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
                                      "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
                                      "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n\n";

        juce::String manifest = prefixes;
        manifest << stateProperty << "\n"
                 << "\ta rdf:Property ;\n"
                 << "\trdfs:label \"State\" ;\n"
                 << "\trdfs:comment \"The plug-in's state block, in the framework's base-64 text.\" .\n";

        juce::StringArray written { "manifest.ttl" };

        for (const auto& preset : presets)
        {
            CompressorAudioProcessor processor;
            const auto block = preset.stateBlock();
            processor.setStateInformation (block.getData(), static_cast<int> (block.getSize()));

            juce::MemoryBlock state;
            processor.getStateInformation (state);

            const auto slug = presetSlug (preset.name);
            const auto uri = "<" + pluginUri + "/presets#" + slug + ">";
            const auto fileName = slug + ".ttl";

            if (slug.isEmpty() || written.contains (fileName))
                return juce::Result::fail (preset.name + ": its LV2 name \"" + slug + "\" is empty or another preset's; "
                                           "name it with other letters or digits");

            manifest << "\n" << uri << "\n"
                     << "\ta pset:Preset ;\n"
                     << "\tlv2:appliesTo <" << pluginUri << "> ;\n"
                     << "\trdfs:seeAlso <" << fileName << "> .\n";

            juce::String text = prefixes;
            text << uri << "\n"
                 << "\ta pset:Preset ;\n"
                 << "\tlv2:appliesTo <" << pluginUri << "> ;\n"
                 << "\trdfs:label " << turtleString (preset.name) << " ;\n"
                 << "\trdfs:comment " << turtleString (preset.category + ": " + preset.description) << " ;\n"
                 << "\tstate:state [\n"
                 << "\t\t" << stateProperty << " " << turtleString (state.toBase64Encoding()) << "\n"
                 << "\t] .\n";

            if (const auto r = writeText (bundle.getChildFile (fileName), text); r.failed())
                return r;

            written.add (fileName);
        }

        if (const auto r = writeText (bundle.getChildFile ("manifest.ttl"), manifest); r.failed())
            return r;

        // A preset whose text has gone leaves no file behind.
        kestrine::render::deleteFilesNotIn (bundle, "*.ttl", written);

        return juce::Result::ok();
    }

    /** Writes the bundle's snapshots, at 1x and 2x: the editor after the start of the demo
        input ran through the processor with the named preset. */
    juce::Result writeSnapshots (const std::vector<FactoryPreset>& presets, const juce::String& presetName, const juce::File& folder)
    {
        const auto found = std::find_if (presets.begin(), presets.end(), [&] (const FactoryPreset& p) { return p.name == presetName; });

        if (found == presets.end())
            return juce::Result::fail ("no preset named \"" + presetName + "\" for the snapshot");

        // The first half second of the demo input, while its first chord rings out: long
        // enough for the display to hold a captured cycle.
        const auto input = kestrine::render::makeDemoInput();
        const auto length = static_cast<int> (snapshotInputSeconds * sampleRate);

        for (const auto& [scale, suffix] : { std::pair { 1.0f, "" }, std::pair { 2.0f, "_2.0x" } })
        {
            CompressorAudioProcessor processor;
            const auto block = found->stateBlock();
            processor.setStateInformation (block.getData(), static_cast<int> (block.getSize()));
            processor.prepareToPlay (sampleRate, blockSize);

            const auto image = kestrine::renderEditor (processor, scale, [&]
            {
                juce::AudioBuffer<float> audio (input);
                kestrine::render::playThrough (processor, audio, length, blockSize);
            });

            processor.releaseResources();

            // The file name's prefix is the component's class ID, as hosts look it up.
            const auto file = folder.getChildFile (kestrine::assets::componentClassId() + "_snapshot" + suffix + ".png");

            if (! kestrine::writePng (image, file))
                return juce::Result::fail ("cannot write " + file.getFullPathName());
        }

        return juce::Result::ok();
    }

    juce::Result run (const Arguments& arguments)
    {
        std::vector<FactoryPreset> presets;

        if (const auto r = kestrine::assets::readFactoryPresets (arguments.presets, presets); r.failed())
            return r;

        if (const auto r = checkPresets (presets); r.failed())
            return r;

        if (const auto r = writeVst3Presets (presets, arguments.bundle, arguments.vst3Presets); r.failed())
            return r;

        if (const auto r = writeLv2Presets (presets, arguments.lv2Presets); r.failed())
            return r;

        return writeSnapshots (presets, arguments.snapshotPreset, arguments.snapshots);
    }
}

int main (int argc, char* argv[])
{
    juce::StringArray arguments;

    for (int i = 1; i < argc; ++i)
        arguments.add (juce::CharPointer_UTF8 (argv[i]));

    juce::String error;
    const auto parsed = parseArguments (arguments, error);

    if (! parsed.has_value())
    {
        std::cerr << "kestrine-assets: " << error << std::endl;
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI framework;
    const auto result = run (*parsed);

    if (result.failed())
    {
        std::cerr << "kestrine-assets: " << result.getErrorMessage() << std::endl;
        return 1;
    }

    return 0;
}
