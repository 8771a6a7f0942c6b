// The factory presets: their texts, the .vstpreset files the build makes from them (restored by
// a host through the bundle's own component), and the snapshots the build draws into the bundle.
#include "EditorSnapshot.h"
#include "FactoryPresetTexts.h"
#include "PluginEditor.h"
#include "TestHelpers.h"
#include "Vst3Module.h"
#include "VstPresetFile.h"

#include <gtest/gtest.h>

#include <map>

using namespace kestrine::test;
using kestrine::assets::FactoryPreset;
namespace vst = kestrine::vstpreset;

namespace
{
    const juce::String componentClassId { "ABCDEF019182FAEB4D52564E4B535452" };
    constexpr Vst::ParamID bypassId = 1652125811;

    juce::File factoryPresets()   { return juce::File (KESTRINE_FACTORY_PRESETS); }
    juce::File snapshots()        { return juce::File (KESTRINE_BUNDLE_PATH).getChildFile ("Contents/Resources/Snapshots"); }

    void restore (CompressorAudioProcessor& processor, const FactoryPreset& preset)
    {
        const auto block = preset.stateBlock();
        processor.setStateInformation (block.getData(), static_cast<int> (block.getSize()));
    }

    /** Each parameter's value in its own range, by identifier. */
    std::map<juce::String, float> valuesOf (CompressorAudioProcessor& processor)
    {
        std::map<juce::String, float> values;

        for (const auto* id : ParameterIds::all)
            values[id] = processor.parameters.getParameterRange (id).convertFrom0to1 (processor.parameters.getParameter (id)->getValue());

        return values;
    }

    std::map<juce::String, float> valuesOf (const FactoryPreset& preset)
    {
        std::map<juce::String, float> values;

        for (const auto& [id, value] : preset.values)
            values[id] = static_cast<float> (value);

        return values;
    }

    /** The same identifiers with the same values, to well within the parameters' steps. */
    bool sameValues (const std::map<juce::String, float>& a, const std::map<juce::String, float>& b)
    {
        return a.size() == b.size()
            && std::all_of (a.begin(), a.end(), [&b] (const auto& entry)
               {
                   const auto other = b.find (entry.first);
                   return other != b.end() && std::abs (other->second - entry.second) < 1.0e-4f;
               });
    }

    /** A valid preset text with one entry's value replaced, an entry added or removed. */
    const juce::String validText = R"(<?xml version="1.0" encoding="UTF-8"?>
<!--
  Category: Test
  A preset for the tests.
-->
<PARAMETERS>
  <PARAM id="amplitude1" value="0.2"/><PARAM id="frequency1" value="100"/><PARAM id="wavelength1" value="50"/>
  <PARAM id="amplitude2" value="0.2"/><PARAM id="frequency2" value="400"/><PARAM id="wavelength2" value="50"/>
  <PARAM id="amplitude3" value="0.2"/><PARAM id="frequency3" value="700"/><PARAM id="wavelength3" value="50"/>
  <PARAM id="velocity" value="0"/><PARAM id="distortion" value="0"/><PARAM id="drywet" value="1"/>
  <PARAM id="backColor" value="2"/>
</PARAMETERS>
)";

    juce::String withValue (const juce::String& id, const juce::String& value)
    {
        const auto entry = "<PARAM id=\"" + id + "\" value=\"";
        const auto start = validText.indexOf (entry) + entry.length();
        return validText.replaceSection (start, validText.indexOf (start, "\"") - start, value);
    }

    struct PresetFromText
    {
        juce::Result read = juce::Result::ok();
        FactoryPreset preset;
    };

    /** The text read from a file named "Test Preset.xml". */
    PresetFromText presetFrom (const juce::String& text)
    {
        const ScratchFolder scratch ("kestrine-preset-test");
        const auto file = scratch.folder.getChildFile ("Test Preset.xml");
        EXPECT_TRUE (scratch.created.wasOk() && file.replaceWithText (text));

        PresetFromText result;
        result.read = kestrine::assets::readFactoryPreset (file, result.preset);
        return result;
    }
}

//==============================================================================
TEST (FactoryPresets, ReadAndCheckRefuseTextsThePluginWouldNotTakeAsWritten)
{
    EXPECT_TRUE (presetFrom (validText).read.wasOk()) << presetFrom (validText).read.getErrorMessage();

    const struct { const char* what; juce::String text; const char* expected; } unreadable[] = {
        { "not XML",          "<PARAMETERS><PARAM",                                            "not well-formed XML" },
        { "other root",       validText.replace ("PARAMETERS", "STATE"),                       "the root element is <STATE>" },
        { "root attribute",   validText.replace ("<PARAMETERS>", "<PARAMETERS name=\"x\">"),   "carries attributes" },
        { "entry sans value", validText.replace ("<PARAM id=\"velocity\" value=\"0\"/>", "<PARAM id=\"velocity\"/>"), "every entry must be" },
        { "other element",    validText.replace ("<PARAM id=\"velocity\"", "<VALUE id=\"velocity\""), "every entry must be" },
        { "no number",        withValue ("drywet", "full"),                                    "the value of drywet is not a number: \"full\"" },
        { "number and text",  withValue ("drywet", "1x"),                                      "is not a number" },
        { "no category",      validText.replace ("Category: Test", "Kind: Test"),              "no \"Category:\" line" },
        { "no description",   validText.replace ("  A preset for the tests.\n", ""),           "no description" },
    };

    for (const auto& c : unreadable)
    {
        const auto read = presetFrom (c.text).read;
        EXPECT_TRUE (read.failed()) << c.what;
        EXPECT_TRUE (read.getErrorMessage().startsWith ("Test Preset")) << read.getErrorMessage();
        EXPECT_TRUE (read.getErrorMessage().contains (c.expected)) << c.what << " -> " << read.getErrorMessage();
    }

    CompressorAudioProcessor processor;
    const struct { const char* what; juce::String text; const char* expected; } refused[] = {
        { "missing entry",  validText.replace ("<PARAM id=\"backColor\" value=\"2\"/>", ""),     "sets no value for backColor" },
        { "unknown entry",  validText.replace ("<PARAM id=\"velocity\"", "<PARAM id=\"gain\" value=\"1\"/><PARAM id=\"velocity\""), "\"gain\" is no parameter" },
        { "twice",          validText.replace ("<PARAM id=\"velocity\"", "<PARAM id=\"drywet\" value=\"1\"/><PARAM id=\"velocity\""), "drywet is set 2 times" },
        { "above range",    withValue ("amplitude1", "0.6"),                                    "amplitude1 = 0.6 lies outside its range -0.5 to 0.5" },
        { "below range",    withValue ("backColor", "-1"),                                      "outside its range 0 to 5" },
        { "off the step",   withValue ("amplitude1", "0.123"),                                  "not on its step" },
        { "theme between",  withValue ("backColor", "2.5"),                                     "not on its step" },
        { "bump before 0",  withValue ("frequency1", "40"),                                     "bump 1 (position 40, width 50) does not fit inside the period" },
        { "bump past 800",  withValue ("frequency3", "760"),                                    "bump 3 (position 760, width 50) does not fit" },
        { "bumps overlap",  withValue ("frequency2", "199"),                                    "reach into each other" },
    };

    for (const auto& c : refused)
    {
        const auto read = presetFrom (c.text);
        ASSERT_TRUE (read.read.wasOk()) << c.what << ": " << read.read.getErrorMessage();
        const auto checked = kestrine::assets::checkPreset (read.preset, processor);
        EXPECT_TRUE (checked.failed()) << c.what;
        EXPECT_TRUE (checked.getErrorMessage().contains (c.expected)) << c.what << " -> " << checked.getErrorMessage();
    }

    // Bumps that just touch are apart, as the editor sees them.
    EXPECT_TRUE (kestrine::assets::checkPreset (presetFrom (withValue ("frequency2", "200")).preset, processor).wasOk());
}

TEST (FactoryPresets, DifferFromEachOtherAndFromTheDefaults)
{
    const auto presets = factoryPresetTexts();
    CompressorAudioProcessor fresh;
    const auto defaults = valuesOf (fresh);

    for (size_t i = 0; i < presets.size(); ++i)
    {
        EXPECT_FALSE (sameValues (valuesOf (presets[i]), defaults)) << presets[i].name;

        for (size_t j = i + 1; j < presets.size(); ++j)
            EXPECT_FALSE (sameValues (valuesOf (presets[i]), valuesOf (presets[j]))) << presets[i].name << " and " << presets[j].name;
    }
}

TEST (FactoryPresets, OpeningTheEditorChangesNoValueOfAPreset)
{
    // The editor pushes overlapping bumps apart as soon as it paints, which would change a
    // preset the moment a user looks at it. The last case shows that this is seen here.
    auto presets = factoryPresetTexts();
    presets.push_back (presetFrom (withValue ("frequency2", "199")).preset);

    for (const auto& preset : presets)
    {
        CompressorAudioProcessor processor;
        restore (processor, preset);
        ASSERT_TRUE (sameValues (valuesOf (processor), valuesOf (preset))) << preset.name;

        {
            // Painted once, then the handles' writes go out through the message loop.
            CompressorAudioProcessorEditor editor (processor, CompressorAudioProcessorEditor::VersionCheck::skip);
            ASSERT_TRUE (editor.createComponentSnapshot (editor.getLocalBounds()).isValid());
            runMessageLoopFor (std::chrono::milliseconds (50));
        }

        const auto overlapping = kestrine::assets::checkPreset (preset, processor).failed();
        EXPECT_EQ (! sameValues (valuesOf (processor), valuesOf (preset)), overlapping) << preset.name;
    }
}

//==============================================================================
TEST (Vst3Presets, EachTextHasItsFileNamedAndCategorised)
{
    juce::StringArray files;

    for (const auto& file : factoryPresets().findChildFiles (juce::File::findFiles, false, "*.vstpreset"))
        files.add (file.getFileName());

    juce::StringArray expected;

    for (const auto& preset : factoryPresetTexts())
    {
        expected.add (preset.name + ".vstpreset");

        juce::MemoryBlock bytes;
        ASSERT_TRUE (factoryPresets().getChildFile (preset.name + ".vstpreset").loadFileAsData (bytes)) << preset.name;
        const auto read = vst::read (static_cast<const std::uint8_t*> (bytes.getData()), bytes.getSize());
        ASSERT_TRUE (read.preset.has_value()) << preset.name << ": " << read.error;
        EXPECT_EQ (juce::String (read.preset->classId), componentClassId);

        const auto* info = read.preset->find (vst::metaInfoId);
        ASSERT_NE (info, nullptr) << preset.name;
        const auto xml = juce::parseXML (juce::String::fromUTF8 (reinterpret_cast<const char*> (info->data.data()),
                                                                 static_cast<int> (info->data.size())));
        ASSERT_NE (xml, nullptr) << preset.name;

        std::map<juce::String, juce::String> meta;

        for (const auto* attribute : xml->getChildWithTagNameIterator ("Attr"))
            meta[attribute->getStringAttribute ("id")] = attribute->getStringAttribute ("value");

        EXPECT_EQ (meta["Name"], preset.name);
        EXPECT_EQ (meta["MusicalCategory"], preset.category);
        EXPECT_EQ (meta["PlugInName"], "Kestrine");
        EXPECT_EQ (meta["PlugInCategory"], "Fx|Dynamics");
        EXPECT_EQ (meta["MediaType"], "VstPreset");
    }

    files.sort (false);
    expected.sort (false);
    EXPECT_EQ (files, expected);
}

TEST (Vst3Presets, AHostHandingCompToTheBundleGetsEveryParameterOfThePreset)
{
    const auto presets = factoryPresetTexts();
    ASSERT_FALSE (presets.empty());
    const CompressorAudioProcessor reference;   // for the normalised form of a plain value

    Module module;
    ASSERT_NE (module.getFactory, nullptr) << dlerror();
    IPluginFactory* factory = module.getFactory();
    {
        ConnectedPlugin plugin (*factory);
        ASSERT_NE (plugin.controller, nullptr);
        ASSERT_EQ (plugin.controller->getParameterCount(), static_cast<int32> (ParameterIds::all.size() + 1));

        for (const auto& preset : presets)
        {
            SCOPED_TRACE (preset.name);

            // Read chunk by chunk, as a host reads the file.
            juce::MemoryBlock bytes;
            ASSERT_TRUE (factoryPresets().getChildFile (preset.name + ".vstpreset").loadFileAsData (bytes));
            const auto read = vst::read (static_cast<const std::uint8_t*> (bytes.getData()), bytes.getSize());
            ASSERT_TRUE (read.preset.has_value()) << read.error;
            const auto* comp = read.preset->find (vst::componentStateId);
            ASSERT_NE (comp, nullptr);

            BytesStream forComponent (comp->data), forController (comp->data);
            ASSERT_EQ (plugin.component->setState (&forComponent), kResultTrue);
            // The framework's controller reads the values from its processor and then answers
            // as the SDK's base class does, "not implemented"; hosts go on either way.
            const auto controllerTook = plugin.controller->setComponentState (&forController);
            EXPECT_TRUE (controllerTook == kResultOk || controllerTook == kNotImplemented) << controllerTook;

            for (int32 i = 0; i < static_cast<int32> (ParameterIds::all.size()); ++i)
            {
                const auto* id = ParameterIds::all[static_cast<size_t> (i)];
                Vst::ParameterInfo info {};
                ASSERT_EQ (plugin.controller->getParameterInfo (i, info), kResultOk);

                const auto value = preset.valueOf (id);
                ASSERT_TRUE (value.has_value()) << id;
                const auto* ranged = dynamic_cast<const juce::RangedAudioParameter*> (reference.getParameters()[i]);
                ASSERT_NE (ranged, nullptr) << id;
                const auto expected = ranged->convertTo0to1 (static_cast<float> (*value));
                EXPECT_NEAR (plugin.controller->getParamNormalized (info.id), expected, 1.0e-6) << id << " = " << *value;
            }

            EXPECT_EQ (plugin.controller->getParamNormalized (bypassId), 0.0);

            // The processor now holds exactly the preset: its state is the chunk byte for byte.
            BytesStream saved;
            ASSERT_EQ (plugin.component->getState (&saved), kResultTrue);
            EXPECT_EQ (saved.data(), comp->data);
        }
    }
    factory->release();
}

//==============================================================================
TEST (Snapshots, TheBundleShowsTheEditorWithACapturedCycleAt1xAnd2x)
{
    const auto one = juce::ImageFileFormat::loadFrom (snapshots().getChildFile (componentClassId + "_snapshot.png"));
    const auto two = juce::ImageFileFormat::loadFrom (snapshots().getChildFile (componentClassId + "_snapshot_2.0x.png"));
    ASSERT_TRUE (one.isValid());
    ASSERT_TRUE (two.isValid());
    EXPECT_EQ (one.getBounds(), juce::Rectangle<int> (840, 520));
    EXPECT_EQ (two.getBounds(), juce::Rectangle<int> (1680, 1040));

    // The same editor with the same preset, drawn before any audio ran: the header (theme,
    // title, selector) is the same, the display is not, since the snapshot shows a cycle.
    const auto presets = factoryPresetTexts();
    const auto shown = std::find_if (presets.begin(), presets.end(), [] (const FactoryPreset& p) { return p.name == KESTRINE_SNAPSHOT_PRESET; });
    ASSERT_NE (shown, presets.end());

    CompressorAudioProcessor processor;
    restore (processor, *shown);
    processor.prepareToPlay (48000.0, 512);
    const auto silent = kestrine::renderEditor (processor);

    const auto differsIn = [&] (juce::Rectangle<int> area)
    {
        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                if (one.getPixelAt (x, y) != silent.getPixelAt (x, y))
                    return true;

        return false;
    };

    EXPECT_FALSE (differsIn ({ 0, 0, 840, 70 }));
    EXPECT_TRUE (differsIn ({ 30, 90, 780, 280 }));

    // The 2x picture is the same window: the theme's background at the same places.
    for (const auto& point : { juce::Point<int> (5, 70), juce::Point<int> (830, 10), juce::Point<int> (420, 500) })
        EXPECT_EQ (two.getPixelAt (point.x * 2 + 1, point.y * 2 + 1), one.getPixelAt (point.x, point.y)) << point.toString();
}
