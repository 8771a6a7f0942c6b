#pragma once

#include "PluginProcessor.h"

#include <string>
#include <thread>

namespace kestrine::test
{
    /** Every mirror that differs from its parameter's current value, one "id: mirror != value"
        per line; empty when all agree. The smoothed amounts are compared by their targets,
        which is what the engine glides to; "backColor" by backgroundIndex. */
    inline std::string mirrorMismatches (CompressorAudioProcessor& processor)
    {
        std::string mismatches;

        for (size_t i = 0; i < ParameterIds::all.size(); ++i)
        {
            const float value = processor.parameters.getRawParameterValue (ParameterIds::all[i])->load();
            float mirror = 0.0f;

            if (i < 9)
            {
                const auto& bump = processor.bumps[i / 3];
                mirror = (i % 3 == 0 ? bump.amplitude : i % 3 == 1 ? bump.position : bump.width).load();
            }
            else if (i == ParameterIds::velocity)    mirror = processor.driftSpeed.load();
            else if (i == ParameterIds::distortion)  mirror = processor.distortion.target.load();
            else if (i == ParameterIds::drywet)      mirror = processor.dryWet.target.load();
            else                                     mirror = static_cast<float> (processor.backgroundIndex.load() - 1);

            if (mirror != value)
                mismatches += std::string (ParameterIds::all[i]) + ": " + std::to_string (mirror)
                              + " != " + std::to_string (value) + "\n";
        }

        return mismatches;
    }

    /** Changes a parameter the way the VST3 wrapper applies host automation inside the process
        call: it stores the value, then calls the listeners, on the calling thread. */
    inline void automate (CompressorAudioProcessor& processor, const char* id, float plainValue)
    {
        juce::AudioProcessorParameter* parameter = processor.parameters.getParameter (id);
        const float normalised = processor.parameters.getParameter (id)->convertTo0to1 (plainValue);
        parameter->setValue (normalised);
        parameter->sendValueChangedMessageToListeners (normalised);
    }

    /** The same from a thread of its own, finished before this returns. */
    inline void automateFromAnotherThread (CompressorAudioProcessor& processor, const char* id, float plainValue)
    {
        std::thread audio ([&] { automate (processor, id, plainValue); });
        audio.join();
    }
}
