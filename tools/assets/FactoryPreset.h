#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <optional>
#include <utility>
#include <vector>

/** The factory presets as the repository keeps them: one text file per preset in presets/,
    named after the preset ("Warm Edge.xml"), holding the plug-in's own state text:

        <?xml version="1.0" encoding="UTF-8"?>
        <!--
          Category: Subtle
          What the preset does, in a sentence or two.
        -->
        <PARAMETERS>
          <PARAM id="amplitude1" value="0.18"/>
          ...
        </PARAMETERS>

    The comment carries the category and the description; the plug-in's state reader skips it. */
namespace kestrine::assets
{
    struct FactoryPreset
    {
        juce::String name;          // the file's name without ".xml"
        juce::String category;      // the comment's "Category:" line
        juce::String description;   // the rest of the comment, as one line
        juce::String text;          // the whole file
        std::vector<std::pair<juce::String, double>> values;   // the PARAM entries, in order

        /** The entry's value, if the preset has one for this identifier. */
        std::optional<double> valueOf (const juce::String& parameterId) const;

        /** The plug-in's state block around the text: header, text, terminating zero. */
        juce::MemoryBlock stateBlock() const;
    };

    /** Reads one preset text. Fails, with a one-line message naming the file and the fault,
        when the file cannot be read, is not well-formed, has no "PARAMETERS" root, holds
        anything but PARAM entries with an identifier and a number, or lacks the comment's
        category or description. */
    juce::Result readFactoryPreset (const juce::File& file, FactoryPreset& preset);

    /** Every "*.xml" file of the folder, sorted by name; fails on the first bad one or when
        the folder holds none. */
    juce::Result readFactoryPresets (const juce::File& folder, std::vector<FactoryPreset>& presets);

    /** Checks a preset against the processor's parameters: each one set exactly once, with a
        value in its range and on its step, nothing else; and every bump wholly inside the
        period and clear of its neighbours, since the editor pushes overlapping bumps apart
        (and so changes the preset) the moment it opens. */
    juce::Result checkPreset (const FactoryPreset& preset, juce::AudioProcessor& processor);

    /** The plug-in component's VST3 class ID as a preset file's header spells it: 32
        hexadecimal digits, derived from the manufacturer and plug-in codes. */
    juce::String componentClassId();

    /** The plug-in's name and VST3 category, for a preset's meta data. */
    juce::String pluginName();
    juce::String pluginCategory();
}
