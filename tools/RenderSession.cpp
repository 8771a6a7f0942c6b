#include "RenderSession.h"

#include "FactoryPreset.h"
#include "StateBlock.h"
#include "VstPresetFile.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace kestrine::render
{
    namespace
    {
        constexpr double listingSampleRate = 48000.0;    // for runs that render nothing

        juce::Result fail (const juce::String& message)
        {
            return juce::Result::fail (message);
        }

        juce::String bitsText (OutputFormat format)
        {
            return format == OutputFormat::float32 ? "32-bit float" : "24-bit";
        }

        std::unique_ptr<juce::AudioFormatReader> openReader (const juce::File& file, juce::String& error)
        {
            if (! file.existsAsFile())
            {
                error = "cannot read input " + file.getFullPathName()
                        + (file.isDirectory() ? ": it is a folder" : ": no such file");
                return nullptr;
            }

            auto stream = file.createInputStream();

            if (stream == nullptr)
            {
                error = "cannot read input " + file.getFullPathName() + ": permission denied or unreadable";
                return nullptr;
            }

            juce::AudioFormatManager formats;
            formats.registerBasicFormats();

            // By content, not by extension: a WAV file named .dat still reads.
            std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (std::move (stream)));

            if (reader == nullptr)
            {
                error = "cannot read input " + file.getFullPathName() + ": not a WAV, AIFF or FLAC file";
                return nullptr;
            }

            if (reader->numChannels != 1 && reader->numChannels != 2)
            {
                error = "cannot render " + file.getFullPathName() + ": it has " + juce::String (reader->numChannels)
                        + " channels; only mono and stereo are supported";
                return nullptr;
            }

            if (! (reader->sampleRate > 0.0) || reader->lengthInSamples < 0)
            {
                error = "cannot read input " + file.getFullPathName() + ": bad sample rate or length";
                return nullptr;
            }

            return reader;
        }

        /** A WAV writer over the stream, which it then owns; nullptr when the format is refused. */
        std::unique_ptr<juce::AudioFormatWriter> makeWavWriter (std::unique_ptr<juce::FileOutputStream>& stream,
                                                                double sampleRate, int channels, OutputFormat format)
        {
            juce::WavAudioFormat wav;
            const auto bits = format == OutputFormat::float32 ? 32 : 24;
            std::unique_ptr<juce::AudioFormatWriter> writer (
                wav.createWriterFor (stream.get(), sampleRate, static_cast<unsigned int> (channels), bits, {}, 0));

            if (writer != nullptr)
                stream.release();   // the writer owns it now

            return writer;
        }

        juce::String channelName (int channels)
        {
            return channels == 1 ? "mono" : "stereo";
        }

        /** Processes the reader's audio through the plug-in into the writer. */
        juce::Result process (HostedPlugin& host, juce::AudioFormatReader& reader, juce::AudioFormatWriter& writer,
                              const RenderOptions& options, RenderSummary& summary, const ProgressCallback& progress)
        {
            auto& plugin = host.instance();
            const auto channels = static_cast<int> (reader.numChannels);
            const auto processedChannels = host.processingChannels();
            const auto frames = reader.lengthInSamples;
            const auto latency = options.compensateLatency ? juce::jmax (0, plugin.getLatencySamples()) : 0;
            const auto total = frames + latency;

            juce::AudioBuffer<float> block (juce::jmax (channels, processedChannels), options.blockSize);
            juce::MidiBuffer midi;
            juce::int64 processed = 0;
            const auto started = juce::Time::getMillisecondCounterHiRes();

            while (processed < total)
            {
                const auto length = static_cast<int> (juce::jmin<juce::int64> (options.blockSize, total - processed));
                block.clear();

                // Past the end of the input the plug-in gets silence: the tail that makes up
                // for the samples dropped at the start.
                if (processed < frames)
                {
                    const auto fromInput = static_cast<int> (juce::jmin<juce::int64> (length, frames - processed));

                    if (! reader.read (&block, 0, fromInput, processed, true, true))
                        return fail ("cannot read input " + options.input.getFullPathName() + " at sample "
                                     + juce::String (processed));

                    // A mono signal through a stereo-only plug-in: the same signal on both
                    // channels, which the engine's mono sum reads as the signal itself.
                    for (int channel = channels; channel < processedChannels; ++channel)
                        block.copyFrom (channel, 0, block, 0, 0, fromInput);
                }

                juce::AudioBuffer<float> view (block.getArrayOfWritePointers(), processedChannels, length);
                midi.clear();
                plugin.processBlock (view, midi);

                const juce::AudioBuffer<float> written (block.getArrayOfWritePointers(), channels, length);
                const auto skip = static_cast<int> (juce::jlimit<juce::int64> (0, length, latency - processed));

                if (skip < length && ! writer.writeFromAudioSampleBuffer (written, skip, length - skip))
                    return fail ("cannot write output " + options.output.getFullPathName() + " (disk full?)");

                processed += length;

                if (progress)
                    progress (static_cast<double> (processed) / static_cast<double> (juce::jmax<juce::int64> (1, total)));
            }

            summary.renderSeconds = (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0;
            summary.frames = processed - latency;
            summary.droppedFrames = latency;
            return juce::Result::ok();
        }

        /** The preset's name and category from its "Info" chunk, where it has them. */
        void readMetaInfo (const kestrine::vstpreset::Preset& preset, PresetEntry& entry)
        {
            const auto* info = preset.find (kestrine::vstpreset::metaInfoId);

            if (info == nullptr)
                return;

            const auto text = juce::String::fromUTF8 (reinterpret_cast<const char*> (info->data.data()), static_cast<int> (info->data.size()));

            if (const auto xml = juce::parseXML (text))
            {
                for (const auto* attribute : xml->getChildWithTagNameIterator ("Attr"))
                {
                    const auto id = attribute->getStringAttribute ("id");

                    if (id == "Name" && attribute->getStringAttribute ("value").isNotEmpty())
                        entry.name = attribute->getStringAttribute ("value");
                    else if (id == "MusicalCategory")
                        entry.category = attribute->getStringAttribute ("value");
                }
            }
        }

        juce::Result configure (HostedPlugin& host, const RenderOptions& options)
        {
            if (options.stateToLoad != juce::File())
            {
                const auto loaded = host.loadState (options.stateToLoad);

                if (loaded.failed())
                    return loaded;
            }

            if (options.preset.isNotEmpty())
            {
                juce::File presetFile;

                if (const auto found = findPreset (options.preset, options.factoryPresets, presetFile); found.failed())
                    return found;

                if (const auto loaded = host.loadPreset (presetFile); loaded.failed())
                    return loaded;
            }

            return host.applySettings (options.settings);
        }
    }

    //==============================================================================
    HostedPlugin::HostedPlugin (host::PluginFormat formatToUse, std::unique_ptr<juce::AudioPluginInstance> instance,
                                double sampleRate, int blockSize)
        : format (formatToUse),
          plugin (std::move (instance)),
          table (describeParameters (*plugin)),
          loadedSampleRate (sampleRate),
          loadedBlockSize (blockSize)
    {
    }

    std::unique_ptr<HostedPlugin> HostedPlugin::load (host::PluginFormat format, const juce::File& bundle,
                                                      double sampleRate, int blockSize, juce::String& error)
    {
        auto instance = host::loadPlugin (format, bundle, sampleRate, blockSize, error);

        if (instance == nullptr)
            return nullptr;

        return std::unique_ptr<HostedPlugin> (new HostedPlugin (format, std::move (instance), sampleRate, blockSize));
    }

    juce::Result HostedPlugin::setChannelCount (int channels)
    {
        const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();

        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (set);
        layout.outputBuses.add (set);

        if (plugin->setBusesLayout (layout))
        {
            processedChannels = channels;
            return juce::Result::ok();
        }

        if (channels == 1 && format == host::PluginFormat::lv2)
        {
            processedChannels = 2;   // its ports are stereo: the mono signal goes to both
            return juce::Result::ok();
        }

        return fail ("the plug-in refused a " + channelName (channels) + " bus layout");
    }

    juce::Result HostedPlugin::applySettings (const std::vector<ParameterSetting>& settings)
    {
        std::vector<ResolvedSetting> resolved;

        for (const auto& setting : settings)
        {
            auto r = resolveSetting (table, setting);

            if (! r.ok())
                return fail (r.error);

            resolved.push_back (r);
        }

        // On the message thread and before processing starts, the VST3 host hands each value to
        // the plug-in's controller at once, which sets the plug-in's own parameter. The LV2 host
        // sends them in its next process call: preparing delivers them, so that a state saved
        // next holds them too.
        for (const auto& r : resolved)
            plugin->getParameters()[table[static_cast<size_t> (r.tableIndex)].hostIndex]->setValue (r.normalisedValue);

        if (format == host::PluginFormat::lv2 && ! resolved.empty())
            host::prepare (*plugin, format, loadedSampleRate, loadedBlockSize);

        return juce::Result::ok();
    }

    juce::Result HostedPlugin::loadState (const juce::File& file)
    {
        juce::MemoryBlock data;

        if (! file.existsAsFile() || ! file.loadFileAsData (data))
            return fail ("cannot read state file " + file.getFullPathName()
                         + (file.existsAsFile() ? ": unreadable" : ": no such file"));

        if (data.getSize() > static_cast<size_t> (std::numeric_limits<int>::max()))
            return fail ("state file " + file.getFullPathName() + " is too large");

        const auto size = static_cast<int> (data.getSize());

        if (format == host::PluginFormat::vst3)
        {
            if (const auto hostState = juce::AudioProcessor::getXmlFromBinary (data.getData(), size);
                hostState != nullptr && hostState->hasTagName ("VST3PluginState"))
            {
                plugin->setStateInformation (data.getData(), size);
                return juce::Result::ok();
            }
        }

        // A block the plug-in reads no text from (too short, another magic number, a length
        // field of zero or less) would be ignored: refuse it rather than report it loaded.
        if (! state::extractText (data.getData(), size).has_value())
            return fail ("state file " + file.getFullPathName() + " is not a Kestrine state block");

        // The block goes to the plug-in the way a host restores a project.
        host::restoreStateBlock (*plugin, format, data);
        return juce::Result::ok();
    }

    juce::Result HostedPlugin::loadPreset (const juce::File& presetFile)
    {
        juce::MemoryBlock componentState;

        if (const auto read = readComponentState (presetFile, componentState); read.failed())
            return read;

        // The "Comp" chunk is what the VST3 component's getState wrote: the plug-in's own block
        // and the wrapper's trailer (the bypass). A VST3 host hands all of it to setState; the
        // LV2 holds the plug-in's block alone in its state, and its bypass is a port.
        host::restoreStateBlock (*plugin, format,
                                 format == host::PluginFormat::vst3 ? componentState
                                                                    : host::stateBlockOfComponentState (componentState));
        return juce::Result::ok();
    }

    juce::Result HostedPlugin::saveState (const juce::File& file)
    {
        const auto block = host::saveStateBlock (*plugin, format);

        if (block.isEmpty())
            return fail ("the plug-in gave no state to write to " + file.getFullPathName());

        return writeAtomically (file, [&] (std::unique_ptr<juce::FileOutputStream> stream)
        {
            const auto wrote = stream->write (block.getData(), block.getSize());
            stream->flush();

            if (! wrote || stream->getStatus().failed())
                return fail ("cannot write state file " + file.getFullPathName());

            return juce::Result::ok();
        });
    }

    void HostedPlugin::prepare (double sampleRate, int blockSize)
    {
        host::prepare (*plugin, format, sampleRate, blockSize);
    }

    //==============================================================================
    std::vector<PresetEntry> listPresets (const juce::File& folder)
    {
        std::vector<PresetEntry> entries;

        for (const auto& file : folder.findChildFiles (juce::File::findFiles, false, "*.vstpreset"))
        {
            PresetEntry entry { file.getFileNameWithoutExtension(), {}, file };
            juce::MemoryBlock bytes;

            if (file.loadFileAsData (bytes))
                if (const auto read = kestrine::vstpreset::read (static_cast<const std::uint8_t*> (bytes.getData()), bytes.getSize());
                    read.preset.has_value())
                    readMetaInfo (*read.preset, entry);

            entries.push_back (entry);
        }

        std::sort (entries.begin(), entries.end(), [] (const PresetEntry& a, const PresetEntry& b) { return a.name < b.name; });
        return entries;
    }

    juce::String describePresets (const std::vector<PresetEntry>& presets)
    {
        juce::String text;

        for (const auto& preset : presets)
            text << preset.name << (preset.category.isNotEmpty() ? "  (" + preset.category + ")" : juce::String()) << "\n";

        return text;
    }

    juce::Result findPreset (const juce::String& nameOrPath, const juce::File& factoryFolder, juce::File& presetFile)
    {
        const auto asPath = juce::File::getCurrentWorkingDirectory().getChildFile (nameOrPath);

        if (asPath.existsAsFile())
        {
            presetFile = asPath;
            return juce::Result::ok();
        }

        const auto factory = listPresets (factoryFolder);

        for (const auto& entry : factory)
        {
            if (entry.name.equalsIgnoreCase (nameOrPath.trim()))
            {
                presetFile = entry.file;
                return juce::Result::ok();
            }
        }

        if (nameOrPath.endsWithIgnoreCase (".vstpreset") || nameOrPath.containsChar (juce::File::getSeparatorChar()))
            return fail ("cannot read preset " + asPath.getFullPathName() + (asPath.isDirectory() ? ": it is a folder" : ": no such file"));

        juce::StringArray names;

        for (const auto& entry : factory)
            names.add (entry.name);

        return fail ("unknown preset \"" + nameOrPath + "\"; "
                     + (names.isEmpty() ? "no factory presets in " + factoryFolder.getFullPathName()
                                        : "factory presets: " + names.joinIntoString (", ")));
    }

    juce::Result readComponentState (const juce::File& presetFile, juce::MemoryBlock& componentState)
    {
        const auto where = "preset " + presetFile.getFullPathName();
        juce::MemoryBlock bytes;

        if (! presetFile.existsAsFile() || ! presetFile.loadFileAsData (bytes))
            return fail ("cannot read " + where + (presetFile.isDirectory() ? ": it is a folder"
                                                   : presetFile.existsAsFile() ? ": unreadable" : ": no such file"));

        namespace vst = kestrine::vstpreset;
        const auto read = vst::read (static_cast<const std::uint8_t*> (bytes.getData()), bytes.getSize());

        if (! read.preset.has_value())
            return fail (where + " is refused: " + juce::String (read.error));

        const auto classId = juce::String (read.preset->classId);
        const auto ownClassId = kestrine::assets::componentClassId();

        if (! classId.equalsIgnoreCase (ownClassId))
            return fail (where + " is for another plug-in: its class ID is " + classId + ", Kestrine's is " + ownClassId);

        const auto* chunk = read.preset->find (vst::componentStateId);

        if (chunk == nullptr)
            return fail (where + " has no \"Comp\" chunk (the plug-in's state)");

        if (chunk->data.size() > static_cast<size_t> (std::numeric_limits<int>::max())
            || ! kestrine::state::extractText (chunk->data.data(), static_cast<int> (chunk->data.size())).has_value())
            return fail (where + ": its \"Comp\" chunk holds no Kestrine state block");

        componentState.replaceAll (chunk->data.data(), chunk->data.size());
        return juce::Result::ok();
    }

    //==============================================================================
    juce::Result readAudioFile (const juce::File& file, juce::AudioBuffer<float>& samples, double& sampleRate)
    {
        juce::String error;
        const auto reader = openReader (file, error);

        if (reader == nullptr)
            return fail (error);

        if (reader->lengthInSamples > std::numeric_limits<int>::max())
            return fail ("input " + file.getFullPathName() + " is too long to hold in memory");

        const auto frames = static_cast<int> (reader->lengthInSamples);
        samples.setSize (static_cast<int> (reader->numChannels), frames);
        sampleRate = reader->sampleRate;

        if (! reader->read (&samples, 0, frames, 0, true, true))
            return fail ("cannot read input " + file.getFullPathName());

        return juce::Result::ok();
    }

    juce::Result writeWavFile (const juce::File& file, const juce::AudioBuffer<float>& samples, double sampleRate,
                               OutputFormat format)
    {
        return writeAtomically (file, [&] (std::unique_ptr<juce::FileOutputStream> stream)
        {
            auto* raw = stream.get();
            const auto writer = makeWavWriter (stream, sampleRate, samples.getNumChannels(), format);

            if (writer == nullptr)
                return fail ("cannot write " + file.getFullPathName() + " as " + bitsText (format) + " WAV");

            if (! writer->writeFromAudioSampleBuffer (samples, 0, samples.getNumSamples()) || ! writer->flush()
                || raw->getStatus().failed())
                return fail ("cannot write " + file.getFullPathName() + " (disk full?)");

            return juce::Result::ok();
        });
    }

    //==============================================================================
    juce::Result run (const RenderOptions& options, RenderSummary& summary, const ProgressCallback& progress)
    {
        juce::String error;

        if (options.listPresets)
        {
            const auto presets = listPresets (options.factoryPresets);

            if (presets.empty())
                return fail ("no factory presets in " + options.factoryPresets.getFullPathName());

            summary.presetListing = describePresets (presets);
        }

        if (! options.wantsRender())
        {
            if (options.listPresets && ! options.listParameters && options.stateToSave == juce::File())
                return juce::Result::ok();

            // No audio: load the plug-in only to list its parameters or to write a state block.
            const auto host = HostedPlugin::load (options.resolvedPluginFormat(), options.bundle, listingSampleRate,
                                                  options.blockSize, error);

            if (host == nullptr)
                return fail (error);

            if (options.listParameters)
                summary.parameterListing = describeTable (host->parameters());

            if (const auto configured = configure (*host, options); configured.failed())
                return configured;

            return options.stateToSave != juce::File() ? host->saveState (options.stateToSave) : juce::Result::ok();
        }

        const auto reader = openReader (options.input, error);

        if (reader == nullptr)
            return fail (error);

        summary.sampleRate = reader->sampleRate;
        summary.channels = static_cast<int> (reader->numChannels);

        return writeAtomically (options.output, [&] (std::unique_ptr<juce::FileOutputStream> stream)
        {
            auto* raw = stream.get();
            const auto writer = makeWavWriter (stream, reader->sampleRate, summary.channels, options.format);

            if (writer == nullptr)
                return fail ("cannot write " + options.output.getFullPathName() + " as " + bitsText (options.format)
                             + " WAV at " + juce::String (reader->sampleRate) + " Hz");

            const auto host = HostedPlugin::load (options.resolvedPluginFormat(), options.bundle, reader->sampleRate,
                                                  options.blockSize, error);

            if (host == nullptr)
                return fail (error);

            if (options.listParameters)
                summary.parameterListing = describeTable (host->parameters());

            if (const auto layout = host->setChannelCount (summary.channels); layout.failed())
                return layout;

            if (const auto configured = configure (*host, options); configured.failed())
                return configured;

            if (options.stateToSave != juce::File())
                if (const auto saved = host->saveState (options.stateToSave); saved.failed())
                    return saved;

            host->prepare (reader->sampleRate, options.blockSize);
            summary.latency = host->instance().getLatencySamples();

            const auto processed = process (*host, *reader, *writer, options, summary, progress);
            host->instance().releaseResources();

            if (processed.failed())
                return processed;

            if (! writer->flush() || raw->getStatus().failed())
                return fail ("cannot write output " + options.output.getFullPathName() + " (disk full?)");

            return juce::Result::ok();
        });
    }
}
