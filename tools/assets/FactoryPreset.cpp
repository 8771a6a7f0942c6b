#include "FactoryPreset.h"

#include "StateBlock.h"
#include "engine/EngineConstants.h"
#include "editor/HandleLayout.h"

#include <cmath>
#include <cstdlib>

namespace kestrine::assets
{
    namespace
    {
        const juce::String textSuffix { ".xml" };
        const juce::String categoryKey { "Category:" };

        juce::Result failure (const juce::File& file, const juce::String& fault)
        {
            return juce::Result::fail (file.getFileName() + ": " + fault);
        }

        /** A whole text that is a finite decimal number, nothing before or after it. */
        std::optional<double> parseNumber (const juce::String& text)
        {
            const auto utf8 = text.trim().toStdString();

            if (utf8.empty())
                return std::nullopt;

            char* end = nullptr;
            const auto value = std::strtod (utf8.c_str(), &end);

            if (end != utf8.c_str() + utf8.size() || ! std::isfinite (value))
                return std::nullopt;

            return value;
        }

        /** The text of the first comment before the root element, or an empty string. */
        juce::String leadingComment (const juce::String& text)
        {
            const auto open = text.indexOf ("<!--");
            const auto root = text.indexOf ("<PARAMETERS");

            if (open < 0 || (root >= 0 && open > root))
                return {};

            const auto close = text.indexOf (open, "-->");
            return close < 0 ? juce::String() : text.substring (open + 4, close);
        }

        const juce::RangedAudioParameter* parameterNamed (juce::AudioProcessor& processor, const juce::String& id)
        {
            for (auto* parameter : processor.getParameters())
                if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter); ranged != nullptr && ranged->getParameterID() == id)
                    return ranged;

            return nullptr;
        }
    }

    std::optional<double> FactoryPreset::valueOf (const juce::String& parameterId) const
    {
        for (const auto& [id, value] : values)
            if (id == parameterId)
                return value;

        return std::nullopt;
    }

    juce::MemoryBlock FactoryPreset::stateBlock() const
    {
        const auto utf8 = text.toStdString();
        const auto header = state::encodeHeader (static_cast<std::uint32_t> (utf8.size()));

        juce::MemoryBlock block (header.data(), header.size());
        block.append (utf8.data(), utf8.size());
        const char terminator = 0;
        block.append (&terminator, 1);
        return block;
    }

    juce::Result readFactoryPreset (const juce::File& file, FactoryPreset& preset)
    {
        FactoryPreset read;
        read.name = file.getFileNameWithoutExtension();

        if (! file.existsAsFile())
            return failure (file, "no such file");

        read.text = file.loadFileAsString();

        juce::XmlDocument document (read.text);
        const auto root = document.getDocumentElement();

        if (root == nullptr)
            return failure (file, "not well-formed XML: " + document.getLastParseError());

        if (! root->hasTagName ("PARAMETERS"))
            return failure (file, "the root element is <" + root->getTagName() + ">, not <PARAMETERS>");

        if (root->getNumAttributes() != 0)
            return failure (file, "<PARAMETERS> carries attributes, which the plug-in would keep in every saved state");

        for (const auto* entry : root->getChildIterator())
        {
            if (! entry->hasTagName ("PARAM") || ! entry->hasAttribute ("id") || ! entry->hasAttribute ("value"))
                return failure (file, "every entry must be <PARAM id=\"...\" value=\"...\"/>");

            const auto id = entry->getStringAttribute ("id");
            const auto value = parseNumber (entry->getStringAttribute ("value"));

            if (! value.has_value())
                return failure (file, "the value of " + id + " is not a number: \"" + entry->getStringAttribute ("value") + "\"");

            read.values.emplace_back (id, *value);
        }

        juce::StringArray lines;
        lines.addLines (leadingComment (read.text));
        lines.trim();
        lines.removeEmptyStrings();

        for (const auto& line : lines)
        {
            if (line.startsWith (categoryKey) && read.category.isEmpty())
                read.category = line.fromFirstOccurrenceOf (categoryKey, false, false).trim();
            else
                read.description << (read.description.isEmpty() ? "" : " ") << line;
        }

        if (read.category.isEmpty())
            return failure (file, "the leading comment has no \"Category:\" line");

        if (read.description.isEmpty())
            return failure (file, "the leading comment has no description");

        preset = std::move (read);
        return juce::Result::ok();
    }

    juce::Result readFactoryPresets (const juce::File& folder, std::vector<FactoryPreset>& presets)
    {
        auto files = folder.findChildFiles (juce::File::findFiles, false, "*" + textSuffix);

        if (files.isEmpty())
            return juce::Result::fail ("no preset texts (*" + textSuffix + ") in " + folder.getFullPathName());

        std::sort (files.begin(), files.end(),
                   [] (const juce::File& a, const juce::File& b) { return a.getFileName() < b.getFileName(); });

        std::vector<FactoryPreset> read;

        for (const auto& file : files)
        {
            FactoryPreset preset;

            if (const auto r = readFactoryPreset (file, preset); r.failed())
                return r;

            read.push_back (std::move (preset));
        }

        presets = std::move (read);
        return juce::Result::ok();
    }

    juce::Result checkPreset (const FactoryPreset& preset, juce::AudioProcessor& processor)
    {
        const auto fail = [&preset] (const juce::String& fault) { return juce::Result::fail (preset.name + ": " + fault); };

        for (const auto& [id, value] : preset.values)
        {
            const auto* parameter = parameterNamed (processor, id);

            if (parameter == nullptr)
                return fail ("\"" + id + "\" is no parameter of the plug-in");

            const auto range = parameter->getNormalisableRange();

            if (value < range.start || value > range.end)
                return fail (id + " = " + juce::String (value) + " lies outside its range " + juce::String (range.start)
                             + " to " + juce::String (range.end));

            // The plug-in rounds a restored value to the step; a preset says what it gets.
            if (std::abs (static_cast<double> (range.snapToLegalValue (static_cast<float> (value))) - value) > 1.0e-6)
                return fail (id + " = " + juce::String (value) + " is not on its step of " + juce::String (range.interval));

            int times = 0;

            for (const auto& other : preset.values)
                times += other.first == id ? 1 : 0;

            if (times != 1)
                return fail (id + " is set " + juce::String (times) + " times");
        }

        for (auto* parameter : processor.getParameters())
            if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter); ranged != nullptr
                && ! preset.valueOf (ranged->getParameterID()).has_value())
                return fail ("sets no value for " + ranged->getParameterID()
                             + "; a preset sets every parameter, or loading it would keep whatever was there");

        std::array<BumpReading, numBumps> bumps {};

        for (int k = 0; k < numBumps; ++k)
        {
            const auto suffix = juce::String (k + 1);
            const auto position = preset.valueOf ("frequency" + suffix).value_or (0.0);
            const auto width = preset.valueOf ("wavelength" + suffix).value_or (0.0);

            // Truncated, as the editor reads its sliders.
            bumps[static_cast<size_t> (k)] = { static_cast<int> (position), static_cast<int> (width) };

            if (position - width < 0.0 || position + width > curvePoints)
                return fail ("bump " + suffix + " (position " + juce::String (position) + ", width " + juce::String (width)
                             + ") does not fit inside the period of " + juce::String (curvePoints) + " points");
        }

        if (bumpsOverlap (bumps))
            return fail ("neighbouring bumps reach into each other; the editor would push them apart when it opens");

        return juce::Result::ok();
    }

    juce::String componentClassId()
    {
        // The framework's component class: two fixed words, then the two four-character codes.
        return "ABCDEF019182FAEB" + juce::String::toHexString (static_cast<juce::uint32> (JucePlugin_ManufacturerCode)).paddedLeft ('0', 8).toUpperCase()
               + juce::String::toHexString (static_cast<juce::uint32> (JucePlugin_PluginCode)).paddedLeft ('0', 8).toUpperCase();
    }

    juce::String pluginName()
    {
        return JucePlugin_Name;
    }

    juce::String pluginCategory()
    {
        return JucePlugin_Vst3Category;
    }
}
