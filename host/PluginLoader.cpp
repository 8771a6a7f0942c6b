#include "PluginLoader.h"

#include "StateBlock.h"

namespace kestrine::host
{
    namespace
    {
        constexpr int latencyWaitMs = 2000;   // how long to wait for the VST3's latency report

        // The VST3 host's stored state: XML holding the component state in base 64.
        const juce::String vst3StateTag = "VST3PluginState";
        const juce::String vst3ComponentTag = "IComponent";

        /** True when the folder holds an LV2 manifest that describes Kestrine with a binary: the
            plug-in itself, not a bundle of presets that names it as what they apply to. */
        bool describesKestrine (const juce::File& bundle)
        {
            const auto manifest = bundle.getChildFile ("manifest.ttl");

            if (! manifest.existsAsFile())
                return false;

            const auto text = manifest.loadFileAsString();
            return text.contains (juce::String ("<") + JucePlugin_LV2URI + ">") && text.contains ("lv2:binary");
        }

        /** True when both folders hold the same files with the same contents. */
        bool sameFiles (const juce::File& a, const juce::File& b)
        {
            const auto filesA = a.findChildFiles (juce::File::findFiles, false);
            const auto filesB = b.findChildFiles (juce::File::findFiles, false);

            if (filesA.size() != filesB.size())
                return false;

            for (const auto& file : filesA)
            {
                const auto other = b.getChildFile (file.getFileName());

                if (! file.hasIdenticalContentTo (other))
                    return false;
            }

            return true;
        }

        /** Another Kestrine LV2 bundle, different from the requested one, that an LV2 host
            would meet first (or in no defined order) in the folders it loads. */
        std::optional<juce::File> shadowingBundle (const juce::File& bundle, const juce::FileSearchPath& hostFolders)
        {
            auto folders = hostFolders;
            folders.add (bundle.getParentDirectory());

            for (int i = 0; i < folders.getNumPaths(); ++i)
            {
                for (const auto& candidate : folders[i].findChildFiles (juce::File::findDirectories, false))
                {
                    if (candidate.getLinkedTarget() == bundle.getLinkedTarget() || ! describesKestrine (candidate))
                        continue;

                    if (! sameFiles (candidate, bundle))
                        return candidate;
                }
            }

            return std::nullopt;
        }

        std::unique_ptr<juce::AudioPluginInstance> create (juce::AudioPluginFormat& format,
                                                           const juce::String& identifier, const juce::File& bundle,
                                                           double sampleRate, int blockSize, juce::String& error)
        {
            juce::OwnedArray<juce::PluginDescription> found;
            format.findAllTypesForFile (found, identifier);

            if (found.isEmpty())
            {
                error = "no " + format.getName() + " plug-in could be loaded from " + bundle.getFullPathName();
                return nullptr;
            }

            juce::String creationError;
            auto instance = format.createInstanceFromDescription (*found.getFirst(), sampleRate, blockSize, creationError);

            if (instance == nullptr)
                error = "cannot create the plug-in from " + bundle.getFullPathName()
                        + (creationError.isNotEmpty() ? ": " + creationError : juce::String());

            return instance;
        }

        std::unique_ptr<juce::AudioPluginInstance> loadLv2 (const juce::File& bundle, double sampleRate, int blockSize,
                                                            juce::String& error)
        {
            juce::LV2PluginFormat format;

            if (const auto other = shadowingBundle (bundle, format.getDefaultLocationsToSearch()))
            {
                error = "another Kestrine LV2 bundle, " + other->getFullPathName() + ", differs from "
                        + bundle.getFullPathName() + " and an LV2 host may load it instead: remove it or pass it as the bundle";
                return nullptr;
            }

            format.searchPathsForPlugins (juce::FileSearchPath (bundle.getParentDirectory().getFullPathName()), false, false);
            return create (format, JucePlugin_LV2URI, bundle, sampleRate, blockSize, error);
        }

        /** The extent of the Turtle string literal that follows the property, or nothing. */
        std::optional<juce::Range<int>> lv2StateLiteral (const juce::String& text)
        {
            const auto name = lv2StateProperty();
            const auto property = text.indexOf (name);

            if (property < 0)
                return std::nullopt;

            const auto open = text.indexOfChar (property + name.length(), '"');

            if (open < 0)
                return std::nullopt;

            const auto longForm = text.substring (open, open + 3) == "\"\"\"";
            const auto start = open + (longForm ? 3 : 1);
            const auto end = longForm ? text.indexOf (start, "\"\"\"") : text.indexOfChar (start, '"');

            if (end < 0)
                return std::nullopt;

            return juce::Range<int> (start, end);
        }

        juce::String textOf (const juce::MemoryBlock& block)
        {
            return juce::String::fromUTF8 (static_cast<const char*> (block.getData()), static_cast<int> (block.getSize()));
        }
    }

    //==============================================================================
    juce::String formatName (PluginFormat format)
    {
        return format == PluginFormat::lv2 ? "LV2" : "VST3";
    }

    std::optional<PluginFormat> formatFromExtension (const juce::File& bundle)
    {
        if (bundle.hasFileExtension (".vst3"))
            return PluginFormat::vst3;

        if (bundle.hasFileExtension (".lv2"))
            return PluginFormat::lv2;

        return std::nullopt;
    }

    std::unique_ptr<juce::AudioPluginInstance> loadPlugin (PluginFormat format, const juce::File& bundle,
                                                           double sampleRate, int blockSize, juce::String& error)
    {
        const auto cannotLoad = "no " + formatName (format) + " plug-in could be loaded from " + bundle.getFullPathName() + ": ";

        if (! bundle.exists())
        {
            error = formatName (format) + " plug-in bundle not found: " + bundle.getFullPathName();
            return nullptr;
        }

        const auto named = formatFromExtension (bundle);

        if (named && *named != format)
        {
            error = cannotLoad + "it is " + (*named == PluginFormat::lv2 ? "an LV2" : "a VST3") + " bundle";
            return nullptr;
        }

        if (format == PluginFormat::lv2)
        {
            if (! describesKestrine (bundle))
            {
                error = cannotLoad + "it holds no manifest.ttl naming " + JucePlugin_LV2URI;
                return nullptr;
            }

            return loadLv2 (bundle, sampleRate, blockSize, error);
        }

        if (named != PluginFormat::vst3)
        {
            error = cannotLoad + "it is not a .vst3 bundle";
            return nullptr;
        }

        juce::VST3PluginFormat vst3;
        return create (vst3, bundle.getFullPathName(), bundle, sampleRate, blockSize, error);
    }

    void prepare (juce::AudioPluginInstance& plugin, PluginFormat format, double sampleRate, int blockSize)
    {
        plugin.setNonRealtime (true);
        plugin.prepareToPlay (sampleRate, blockSize);

        if (format == PluginFormat::lv2)
        {
            // The LV2 host sends parameter changes in the process call and reads the latency
            // port after it; preparing again makes a fresh instance from the state that now
            // holds the changes, and the plug-in's prepareToPlay applies them all at once.
            juce::AudioBuffer<float> none (juce::jmax (plugin.getTotalNumInputChannels(), plugin.getTotalNumOutputChannels()), 0);
            juce::MidiBuffer midi;
            plugin.processBlock (none, midi);
            plugin.prepareToPlay (sampleRate, blockSize);
            return;
        }

        // The VST3 wrapper announces its latency on its own message loop.
        const auto deadline = juce::Time::getMillisecondCounter() + static_cast<juce::uint32> (latencyWaitMs);

        while (plugin.getLatencySamples() == 0 && juce::Time::getMillisecondCounter() < deadline)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (2);
    }

    juce::MemoryBlock saveStateBlock (juce::AudioPluginInstance& plugin, PluginFormat format)
    {
        if (format == PluginFormat::lv2)
        {
            juce::MemoryBlock hostState;
            plugin.getStateInformation (hostState);
            const auto text = textOf (hostState);
            juce::MemoryBlock block;

            if (const auto literal = lv2StateLiteral (text))
                if (block.fromBase64Encoding (text.substring (literal->getStart(), literal->getEnd())))
                    return block;

            return {};
        }

        return stateBlockOfComponentState (componentState (plugin));
    }

    juce::MemoryBlock componentState (juce::AudioPluginInstance& plugin)
    {
        juce::MemoryBlock hostState;
        plugin.getStateInformation (hostState);

        if (const auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), static_cast<int> (hostState.getSize())))
        {
            if (const auto* component = xml->getChildByName (vst3ComponentTag))
            {
                juce::MemoryBlock state;

                if (state.fromBase64Encoding (component->getAllSubText()))
                    return state;
            }
        }

        return {};
    }

    juce::String lv2StateProperty()
    {
        return juce::String ("<") + JucePlugin_LV2URI + ":StateString>";
    }

    juce::MemoryBlock stateBlockOfComponentState (const juce::MemoryBlock& componentState)
    {
        const auto size = static_cast<juce::int64> (componentState.getSize());

        if (size >= static_cast<juce::int64> (state::overheadBytes))
        {
            const auto* bytes = static_cast<const char*> (componentState.getData());
            const auto magic = juce::ByteOrder::littleEndianInt (bytes);
            const auto textLength = static_cast<juce::int64> (static_cast<juce::int32> (juce::ByteOrder::littleEndianInt (bytes + 4)));
            const auto blockSize = static_cast<juce::int64> (state::overheadBytes) + textLength;

            if (magic == state::magicNumber && textLength > 0 && blockSize <= size)
                return { bytes, static_cast<size_t> (blockSize) };
        }

        return componentState;
    }

    void restoreStateBlock (juce::AudioPluginInstance& plugin, PluginFormat format, const juce::MemoryBlock& block)
    {
        if (format == PluginFormat::lv2)
        {
            // The LV2 host restores Turtle text: take the instance's own and put the block in
            // place of the one it holds.
            juce::MemoryBlock hostState;
            plugin.getStateInformation (hostState);
            auto text = textOf (hostState);

            if (const auto literal = lv2StateLiteral (text))
            {
                text = text.replaceSection (literal->getStart(), literal->getLength(), block.toBase64Encoding());
                plugin.setStateInformation (text.toRawUTF8(), static_cast<int> (text.getNumBytesAsUTF8()));
            }

            return;
        }

        juce::XmlElement wrapper (vst3StateTag);
        wrapper.createNewChildElement (vst3ComponentTag)->addTextElement (block.toBase64Encoding());

        juce::MemoryBlock hostState;
        juce::AudioProcessor::copyXmlToBinary (wrapper, hostState);
        plugin.setStateInformation (hostState.getData(), static_cast<int> (hostState.getSize()));
    }
}
