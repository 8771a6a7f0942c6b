#pragma once

// The factory preset texts in the source tree, for the tests of kestrine-tests (which links
// kestrine_assets_core and defines KESTRINE_SOURCE_DIR).
#include "FactoryPreset.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrine::test
{
    /** The folder holding the factory preset texts. */
    inline juce::File factoryPresetFolder()
    {
        return juce::File (KESTRINE_SOURCE_DIR).getChildFile ("presets");
    }

    /** Reads every factory preset text into presets. */
    inline juce::Result readFactoryPresetTexts (std::vector<kestrine::assets::FactoryPreset>& presets)
    {
        return kestrine::assets::readFactoryPresets (factoryPresetFolder(), presets);
    }

    /** The factory preset texts; a read that fails is a test failure. */
    inline std::vector<kestrine::assets::FactoryPreset> factoryPresetTexts()
    {
        std::vector<kestrine::assets::FactoryPreset> presets;
        const auto read = readFactoryPresetTexts (presets);
        EXPECT_TRUE (read.wasOk()) << read.getErrorMessage();
        return presets;
    }
}
