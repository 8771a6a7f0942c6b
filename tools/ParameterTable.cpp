#include "ParameterTable.h"

#include "PluginProcessor.h"
#include "Vst3ParameterId.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace kestrine::render
{
    namespace
    {
        /** The whole text as a finite decimal number, or nothing ("0.3x", "nan" and "" are refused). */
        std::optional<double> parseNumber (const juce::String& text)
        {
            const auto utf8 = text.trim().toStdString();

            if (utf8.empty())
                return std::nullopt;

            char* end = nullptr;
            errno = 0;
            const auto value = std::strtod (utf8.c_str(), &end);

            if (errno != 0 || end != utf8.c_str() + utf8.size() || ! std::isfinite (value))
                return std::nullopt;

            return value;
        }

        /** Plain value shown by the plug-in for a normalised value ("-0.50" -> -0.5). */
        double plainValueOf (juce::AudioProcessorParameter& parameter, float normalised)
        {
            return parameter.getText (normalised, 64).getDoubleValue();
        }

        /** A plain value as people write it: "-0.5", "800", "0.01". */
        juce::String numberText (double value)
        {
            auto text = juce::String (value, 6);

            if (text.containsChar ('.'))
                text = text.trimCharactersAtEnd ("0").trimCharactersAtEnd (".");

            return text == "-0" ? "0" : text;
        }

        juce::String rangeText (const ParameterInfo& info)
        {
            if (! info.choices.isEmpty())
                return "0 to " + juce::String (info.choices.size() - 1) + " or one of "
                       + info.choices.joinIntoString (", ");

            return numberText (info.minimum) + " to " + numberText (info.maximum);
        }

        juce::String identifierList (const std::vector<ParameterInfo>& table)
        {
            juce::StringArray identifiers;

            for (const auto& info : table)
                identifiers.add (info.identifier);

            return identifiers.joinIntoString (", ");
        }

        ResolvedSetting refused (const juce::String& message)
        {
            ResolvedSetting result;
            result.error = message;
            return result;
        }
    }

    std::vector<ParameterInfo> describeParameters (juce::AudioPluginInstance& plugin)
    {
        std::vector<ParameterInfo> table;
        const auto& parameters = plugin.getParameters();

        for (int i = 0; i < parameters.size(); ++i)
        {
            auto& parameter = *parameters[i];
            auto* hosted = dynamic_cast<juce::HostedAudioProcessorParameter*> (&parameter);

            ParameterInfo info;
            info.name = parameter.getName (128);
            info.hostIndex = i;

            // A VST3 host names a parameter by the hash of its identifier, an LV2 host by the
            // identifier after the plug-in's URI.
            const auto lv2Prefix = juce::String ("des:") + JucePlugin_LV2URI + ":";

            for (const auto* identifier : ParameterIds::all)
                if (hosted != nullptr && (hosted->getParameterID() == juce::String (kestrine::vst3ParameterId (identifier))
                                          || hosted->getParameterID() == lv2Prefix + identifier))
                    info.identifier = identifier;

            // The framework's own parameters (the bypass) have no identifier of ours: their
            // name, in lower case and without spaces, serves.
            if (info.identifier.isEmpty())
                info.identifier = info.name.toLowerCase().removeCharacters (" ");

            const auto steps = parameter.getNumSteps();

            if (parameter.isDiscrete() && steps >= 2 && steps <= 64
                && ! parameter.getText (0.0f, 64).containsAnyOf ("0123456789"))
            {
                for (int s = 0; s < steps; ++s)
                    info.choices.add (parameter.getText (static_cast<float> (s) / static_cast<float> (steps - 1), 64));

                info.minimum = 0.0;
                info.maximum = steps - 1;
            }
            else
            {
                info.minimum = plainValueOf (parameter, 0.0f);
                info.maximum = plainValueOf (parameter, 1.0f);
            }

            table.push_back (info);
        }

        return table;
    }

    ResolvedSetting resolveSetting (const std::vector<ParameterInfo>& table, const ParameterSetting& setting)
    {
        int found = -1;

        for (size_t i = 0; i < table.size() && found < 0; ++i)
            if (table[i].identifier.equalsIgnoreCase (setting.identifier))
                found = static_cast<int> (i);

        for (size_t i = 0; i < table.size() && found < 0; ++i)
            if (table[i].name.equalsIgnoreCase (setting.identifier))
                found = static_cast<int> (i);

        if (found < 0)
            return refused ("unknown parameter \"" + setting.identifier + "\"; valid identifiers: "
                            + identifierList (table));

        const auto& info = table[static_cast<size_t> (found)];
        auto value = parseNumber (setting.valueText);

        if (! value && ! info.choices.isEmpty())
        {
            const auto choice = info.choices.indexOf (setting.valueText.trim(), true);

            if (choice >= 0)
                value = choice;
        }

        if (! value)
            return refused ("value \"" + setting.valueText + "\" for " + info.identifier
                            + " is not a number; valid: " + rangeText (info));

        const auto lowest = juce::jmin (info.minimum, info.maximum);
        const auto highest = juce::jmax (info.minimum, info.maximum);

        if (*value < lowest || *value > highest)
            return refused ("value " + setting.valueText.trim() + " for " + info.identifier
                            + " is outside its range " + rangeText (info));

        if (! info.choices.isEmpty() && *value != std::floor (*value))
            return refused ("value " + setting.valueText.trim() + " for " + info.identifier
                            + " must be a whole number; valid: " + rangeText (info));

        ResolvedSetting result;
        result.tableIndex = found;
        result.normalisedValue = highest > lowest ? static_cast<float> ((*value - info.minimum) / (info.maximum - info.minimum))
                                                  : 0.0f;
        return result;
    }

    juce::String describeTable (const std::vector<ParameterInfo>& table)
    {
        juce::String text;

        for (const auto& info : table)
            text << info.identifier.paddedRight (' ', 12) << "  " << info.name.paddedRight (' ', 11)
                 << "  " << rangeText (info) << "\n";

        return text;
    }
}
