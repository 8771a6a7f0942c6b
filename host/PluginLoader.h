#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>
#include <optional>

namespace kestrine::host
{
    /** The plug-in formats that a built Kestrine bundle comes in. */
    enum class PluginFormat
    {
        vst3,
        lv2
    };

    /** "VST3" or "LV2". */
    juce::String formatName (PluginFormat format);

    /** The format that a bundle path names by its extension (".vst3", ".lv2"), if any. */
    std::optional<PluginFormat> formatFromExtension (const juce::File& bundle);

    /** Loads Kestrine from a bundle through JUCE's hosting of the format, as a DAW loads it.
        Returns nullptr with a one-line reason when the bundle is missing, is of another kind or
        cannot be loaded. Message thread only.

        An LV2 host finds plug-ins by URI and keeps the first bundle it meets for a URI,
        starting with the user's and the system's LV2 folders. When one of those holds another
        Kestrine bundle whose files differ from the requested one, loading is refused, since
        the host would run that one instead. */
    std::unique_ptr<juce::AudioPluginInstance> loadPlugin (PluginFormat format, const juce::File& bundle,
                                                           double sampleRate, int blockSize, juce::String& error);

    /** Prepares the instance for processing and waits until the plug-in has reported its
        latency. For an LV2, parameter values set since loading reach the plug-in in its next
        process call, so a block of no samples is processed first and the instance prepared
        again: all values then take effect at once, as in the VST3, which applies them when
        they are set. Message thread only. */
    void prepare (juce::AudioPluginInstance& plugin, PluginFormat format, double sampleRate, int blockSize);

    /** The plug-in's own state block, taken out of the state that the format's host stores
        (the VST3 host's component state with the wrapper's trailer, or the LV2 host's Turtle
        text). Empty when none is found. Message thread only. */
    juce::MemoryBlock saveStateBlock (juce::AudioPluginInstance& plugin, PluginFormat format);

    /** The whole component state that the VST3 host stores for the plug-in, decoded from its
        base 64: what the component's getState wrote, the wrapper's trailer included. Empty
        when the host's state holds none. Message thread only. */
    juce::MemoryBlock componentState (juce::AudioPluginInstance& plugin);

    /** The Turtle property, as it stands in Turtle text ("<URI:StateString>"), under which the
        framework's LV2 client stores the plug-in's state block in base 64. */
    juce::String lv2StateProperty();

    /** The plug-in's own state block at the start of a VST3 component state, which the VST3
        wrapper's getState writes with a trailer of its own after it; the whole state when no
        block is recognised there. */
    juce::MemoryBlock stateBlockOfComponentState (const juce::MemoryBlock& componentState);

    /** Hands the plug-in a state block the way the format's host restores a saved project.
        The block goes to the plug-in as it is, hostile or not. Message thread only. */
    void restoreStateBlock (juce::AudioPluginInstance& plugin, PluginFormat format, const juce::MemoryBlock& block);
}
