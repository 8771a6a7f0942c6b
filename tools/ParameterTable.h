#pragma once

#include "RenderOptions.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <optional>
#include <vector>

namespace kestrine::render
{
    /** What the tool knows about one hosted parameter. */
    struct ParameterInfo
    {
        juce::String identifier;   // "amplitude1" .. "backColor", or "bypass"
        juce::String name;         // the name the plug-in shows, "Amplitude1" .. "Bypass"
        double minimum = 0.0;      // plain range; for a choice, 0 .. number of choices - 1
        double maximum = 1.0;
        juce::StringArray choices; // the choice texts, empty for a continuous parameter
        int hostIndex = -1;        // index into the hosted instance's parameter list
    };

    /** A --set request checked against the table: which parameter and its normalised value. */
    struct ResolvedSetting
    {
        int tableIndex = -1;
        float normalisedValue = 0.0f;
        juce::String error;   // empty when the request is valid

        bool ok() const noexcept { return error.isEmpty(); }
    };

    /** Maps the hosted instance's parameters back to their identifiers (through their VST3
        IDs) and reads their plain ranges from the plug-in's own value texts. */
    std::vector<ParameterInfo> describeParameters (juce::AudioPluginInstance& plugin);

    /** Checks one --set request: the identifier (or name, either without regard to case) must
        name a parameter in the table, and the value must be a number inside its range (for a
        choice: an index or one of the choice texts). */
    ResolvedSetting resolveSetting (const std::vector<ParameterInfo>& table, const ParameterSetting& setting);

    /** One line per parameter: identifier, name, range or choices. */
    juce::String describeTable (const std::vector<ParameterInfo>& table);
}
