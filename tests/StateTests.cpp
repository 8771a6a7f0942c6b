#include "PluginHost.h"
#include "PluginProcessor.h"
#include "StateBlock.h"
#include "StateBlockBuilders.h"
#include "StateReader.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using namespace kestrine::test;

namespace
{
    constexpr std::array<const char*, 13> idsInCharacterOrder {
        "amplitude1", "amplitude2", "amplitude3", "backColor", "distortion", "drywet",
        "frequency1", "frequency2", "frequency3", "velocity", "wavelength1", "wavelength2", "wavelength3"
    };

    Bytes saved (CompressorAudioProcessor& processor)
    {
        juce::MemoryBlock block;
        processor.getStateInformation (block);
        const auto* bytes = static_cast<const std::uint8_t*> (block.getData());
        return Bytes (bytes, bytes + block.getSize());
    }

    std::string textOf (const Bytes& block)
    {
        return std::string (reinterpret_cast<const char*> (block.data()) + kestrine::state::headerBytes,
                            block.size() - kestrine::state::overheadBytes);
    }

    void restore (CompressorAudioProcessor& processor, const Bytes& block)
    {
        processor.setStateInformation (block.data(), static_cast<int> (block.size()));
    }

    float valueOf (CompressorAudioProcessor& processor, const char* id)
    {
        return processor.parameters.getRawParameterValue (id)->load();
    }

    void setValue (CompressorAudioProcessor& processor, const char* id, float plainValue)
    {
        auto* parameter = processor.parameters.getParameter (id);
        ASSERT_NE (parameter, nullptr) << id;
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (plainValue));
    }

    /** Every parameter value and the tree as it stands (without bringing it up to date). */
    struct Snapshot
    {
        explicit Snapshot (CompressorAudioProcessor& processor)
            : tree (processor.parameters.state.toXmlString())
        {
            for (size_t i = 0; i < values.size(); ++i)
                values[i] = valueOf (processor, ParameterIds::all[i]);
        }

        bool operator== (const Snapshot& other) const { return values == other.values && tree == other.tree; }

        std::array<float, 13> values {};
        juce::String tree;
    };

    /** A processor whose parameters all stand away from their defaults. */
    struct StateTest : ::testing::Test
    {
        void SetUp() override
        {
            setValue (processor, "amplitude1", 0.25f);
            setValue (processor, "frequency1", 123.0f);
            setValue (processor, "wavelength2", 77.0f);
            setValue (processor, "velocity", -0.5f);
            setValue (processor, "distortion", 0.3f);
            setValue (processor, "drywet", 0.6f);
            setValue (processor, "backColor", 3.0f);
            processor.parameters.copyState();   // brings the tree's "value" attributes up to date
        }

        CompressorAudioProcessor processor;
    };

    std::vector<juce::String> entryIds (const juce::ValueTree& tree)
    {
        std::vector<juce::String> ids;
        for (const auto& child : tree)
            ids.push_back (child.getProperty ("id").toString());
        return ids;
    }

    /** A fresh block's text with one entry's "<PARAM" turned into the start of a processing
        instruction whose target is no name, and a later entry's value quote into its end. */
    std::string hiddenEntriesText()
    {
        CompressorAudioProcessor fresh;
        auto text = textOf (saved (fresh));
        text.replace (text.find ("<PARAM id=\"amplitude2\""), 6, "<?9RAM");
        text.replace (text.find (" value=\"", text.find ("id=\"backColor\"")), 8, " value?>");
        return text;
    }

    std::string nested (int levels)
    {
        std::string text = declaration + " ";
        for (int i = 0; i < levels; ++i)
            text += i == 0 ? "<PARAMETERS>" : "<a>";
        for (int i = levels; --i >= 0;)
            text += i == 0 ? "</PARAMETERS>" : "</a>";
        return text;
    }
}

//==============================================================================
TEST (State, FreshBlockIsHeaderSingleLineTreeAndZero)
{
    CompressorAudioProcessor processor;
    const auto block = saved (processor);

    ASSERT_GE (block.size(), kestrine::state::overheadBytes);
    EXPECT_EQ ((Bytes (block.begin(), block.begin() + 4)), (Bytes { 0x56, 0x43, 0x32, 0x21 }));
    const auto n = static_cast<std::uint32_t> (block[4] | block[5] << 8 | block[6] << 16 | block[7] << 24);
    EXPECT_EQ (n, block.size() - 9);
    EXPECT_EQ (block.back(), 0);

    std::string expected = declaration + " <PARAMETERS>";
    for (const auto* id : idsInCharacterOrder)
    {
        const auto defaultValue = processor.parameters.getParameter (id)->getDefaultValue();
        const auto plain = processor.parameters.getParameterRange (id).convertFrom0to1 (defaultValue);
        expected += entry (id, juce::var (static_cast<double> (plain)).toString().toStdString());
    }
    expected += "</PARAMETERS>";

    EXPECT_EQ (textOf (block), expected);
}

TEST (State, SavingReplacesTheWholeBlock)
{
    CompressorAudioProcessor processor;
    juce::MemoryBlock block (100000, true);
    processor.getStateInformation (block);
    EXPECT_EQ (block.getSize(), saved (processor).size());
}

TEST_F (StateTest, RoundTripRestoresEveryParameter)
{
    const auto block = saved (processor);
    const Snapshot before (processor);

    for (size_t i = 0; i < ParameterIds::all.size(); ++i)
        processor.parameters.getParameter (ParameterIds::all[i])->setValueNotifyingHost (0.9f);

    restore (processor, block);
    EXPECT_EQ (Snapshot (processor).values, before.values);
    EXPECT_EQ (saved (processor), block);
}

TEST_F (StateTest, AppendsACurrentEntryForAParameterTheBlockLacks)
{
    std::string entries;
    for (const auto* id : idsInCharacterOrder)
        if (std::strcmp (id, "backColor") != 0)
            entries += entry (id, "0.1");

    restore (processor, blockOf (documentWith (entries)));

    EXPECT_EQ (valueOf (processor, "backColor"), 3.0f);
    EXPECT_FLOAT_EQ (valueOf (processor, "drywet"), 0.1f);

    const auto ids = entryIds (processor.parameters.state);
    ASSERT_EQ (ids.size(), 13u);
    EXPECT_EQ (ids.back(), "backColor");
    EXPECT_EQ (processor.parameters.state.getChild (12).getProperty ("value").toString(), "3.0");
    EXPECT_NE (textOf (saved (processor)).find (entry ("backColor", "3.0") + "</PARAMETERS>"), std::string::npos);
}

TEST_F (StateTest, MissingEntriesFollowTheRestoredOnesInIdentifierOrder)
{
    restore (processor, blockOf (documentWith (entry ("velocity", "0.5") + entry ("amplitude2", "0.1"))));

    const auto ids = entryIds (processor.parameters.state);
    const std::vector<juce::String> expected { "velocity", "amplitude2", "amplitude1", "amplitude3", "backColor",
                                               "distortion", "drywet", "frequency1", "frequency2", "frequency3",
                                               "wavelength1", "wavelength2", "wavelength3" };
    EXPECT_EQ (ids, expected);
    EXPECT_EQ (valueOf (processor, "amplitude1"), 0.25f);
    EXPECT_EQ (valueOf (processor, "frequency1"), 123.0f);
    EXPECT_FLOAT_EQ (valueOf (processor, "velocity"), 0.5f);
}

TEST_F (StateTest, UnknownEntriesOrderAndExtraAttributesSurviveARestoreAndASave)
{
    const std::string text = declaration + " <PARAMETERS author=\"someone &amp; co\">"
                           + "<PARAM value=\"0.2\" id=\"amplitude1\"/>"
                           + "<PARAM id=\"future\" value=\"3\"/>"
                           + "<OTHER note=\"kept\"/>";
    restore (processor, blockOf (text + "</PARAMETERS>"));

    // The saved value is the parameter's float written back, so only the order is compared.
    const auto again = textOf (saved (processor));
    EXPECT_EQ (again.rfind (declaration + " <PARAMETERS author=\"someone &amp; co\"><PARAM value=\"", 0), 0u) << again;
    EXPECT_NE (again.find ("\" id=\"amplitude1\"/><PARAM id=\"future\" value=\"3\"/><OTHER note=\"kept\"/>"), std::string::npos) << again;
    EXPECT_FLOAT_EQ (valueOf (processor, "amplitude1"), 0.2f);
}

TEST_F (StateTest, NamesWithNonAsciiLettersAreTakenAndSavedAgain)
{
    const std::string names = "<PARAMETERS gr\xc3\xb6\xc3\x9f" "e=\"1\"><PARAM id=\"amplitude1\" value=\"0.2\" \xc3\xbc" "nit=\"dB\"/><\xce\xa9mega/>";
    restore (processor, blockOf (declaration + " " + names + "</PARAMETERS>"));

    EXPECT_FLOAT_EQ (valueOf (processor, "amplitude1"), 0.2f);
    const auto again = textOf (saved (processor));
    EXPECT_EQ (again.rfind (declaration + " <PARAMETERS gr\xc3\xb6\xc3\x9f" "e=\"1\"><PARAM id=\"amplitude1\" value=\"", 0), 0u) << again;
    EXPECT_NE (again.find ("\" \xc3\xbc" "nit=\"dB\"/><\xce\xa9mega/>"), std::string::npos) << again;
}

//==============================================================================
// Every row of the failure table: a block, and whether it is taken. An accepted row names a
// parameter and the value it must have afterwards; a refused row must change nothing at all.
TEST_F (StateTest, FollowsTheFailureTable)
{
    const auto valid = documentWith (entry ("amplitude1", "-0.2"));
    auto swapped = blockOf (valid);
    std::swap (swapped[0], swapped[3]);
    std::swap (swapped[1], swapped[2]);
    auto cutValid = blockOf (valid);
    cutValid.resize (8);

    struct Row { const char* name; Bytes block; const char* id; float expected; };
    const std::vector<Row> rows {
        { "empty block",                 {},                                           nullptr, 0 },
        { "eight bytes",                 cutValid,                                     nullptr, 0 },
        { "plain XML without header",    Bytes (valid.begin(), valid.end()),           nullptr, 0 },
        { "magic number byte-swapped",   swapped,                                      nullptr, 0 },
        { "N zero",                      blockOf (valid, 0),                           nullptr, 0 },
        { "N negative",                  blockOf (valid, -5),                          nullptr, 0 },
        { "N beyond the block, text whole", blockOf (valid, 0x7fffffff, false),        "amplitude1", -0.2f },
        { "N beyond the block, text cut",   blockOf (valid.substr (0, valid.size() - 4), 0x7fffffff, false), nullptr, 0 },
        { "N shorter than the text",     blockOf (valid, static_cast<std::int32_t> (valid.size() - 1)), nullptr, 0 },
        { "text starts with zero",       blockOf (std::string (1, '\0') + valid),      nullptr, 0 },
        { "not well-formed",             blockOf (declaration + " <PARAMETERS><PARAM id=\"amplitude1\" value=\"0.1\""), nullptr, 0 },
        { "other root tag",              blockOf (documentWith (entry ("amplitude1", "0.1"), "STATE")), nullptr, 0 },
        { "lower-case root tag",         blockOf (documentWith (entry ("amplitude1", "0.1"), "parameters")), "amplitude1", 0.1f },
        { "unknown id",                  blockOf (documentWith (entry ("nothing", "0.4"))), "amplitude1", 0.25f },
        { "entry without value",         blockOf (documentWith ("<PARAM id=\"amplitude1\"/>")), "amplitude1", 0.0f },
        { "value above the range",       blockOf (documentWith (entry ("amplitude1", "7"))), "amplitude1", 0.5f },
        { "value between steps",         blockOf (documentWith (entry ("amplitude1", "0.123"))), "amplitude1", 0.12f },
        { "value below the range",       blockOf (documentWith (entry ("frequency1", "-40"))), "frequency1", 0.0f },
        { "value no number",             blockOf (documentWith (entry ("wavelength1", "wide"))), "wavelength1", 5.0f },
        { "parameter without entry",     blockOf (documentWith ("")),                  "frequency1", 123.0f },
    };

    const Snapshot start (processor);

    for (const auto& row : rows)
    {
        restore (processor, row.block);

        if (row.id == nullptr)
        {
            EXPECT_TRUE (Snapshot (processor) == start) << row.name;
        }
        else
        {
            EXPECT_NEAR (valueOf (processor, row.id), row.expected, 1.0e-6f) << row.name;
            restore (processor, saved (processor));   // a saved block is always taken back
        }

        // Put the starting state back for the next row.
        processor.parameters.replaceState (juce::ValueTree::fromXml (start.tree));
        ASSERT_EQ (Snapshot (processor).values, start.values) << row.name;
    }
}

TEST_F (StateTest, ARestoredStateReachesTheEngineAndGlides)
{
    processor.prepareToPlay (48000.0, 512);
    ASSERT_FLOAT_EQ (processor.distortion.current.load(), 0.3f);

    restore (processor, blockOf (documentWith (entry ("distortion", "-0.5") + entry ("drywet", "0.2")
                                               + entry ("frequency1", "300") + entry ("velocity", "0")
                                               + entry ("backColor", "5"))));

    EXPECT_FLOAT_EQ (processor.distortion.target.load(), -0.5f);
    EXPECT_FLOAT_EQ (processor.dryWet.target.load(), 0.2f);
    EXPECT_FLOAT_EQ (processor.distortion.current.load(), 0.3f);   // glides, no jump
    EXPECT_FLOAT_EQ (processor.bumps[0].position.load(), 300.0f);
    EXPECT_EQ (processor.backgroundIndex.load(), 6);

    // The curve builders put the first bump back at its restored position within a tick.
    EXPECT_TRUE (runMessageLoopUntil ([&] { return processor.currentBumpCentres()[0] == 300; }));

    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    for (int i = 0; i < 512; ++i)
        buffer.setSample (0, i, std::sin (0.05f * static_cast<float> (i))), buffer.setSample (1, i, 0.0f);
    processor.processBlock (buffer, midi);

    const float distortion = processor.distortion.current.load();
    EXPECT_LT (distortion, 0.3f);
    EXPECT_GE (distortion, -0.5f);
}

//==============================================================================
// Blocks from a damaged or crafted project file, some of which hung or flooded earlier
// readers. A refused row must change nothing at all; an accepted row names a parameter and
// the value it must have afterwards, and every other parameter keeps its value. The slowest
// restore is printed for the record; speed is no pass/fail matter here.
TEST_F (StateTest, HandlesHostileBlocks)
{
    std::string manyNames = declaration + " <PARAMETERS";
    for (int i = 0; i < 80000; ++i)
        manyNames += " a" + std::to_string (i) + "=''";
    manyNames += "/>";

    std::string sameName = declaration + " <PARAMETERS";
    for (int i = 0; i < 80000; ++i)
        sameName += " a=''";
    sameName += "/>";

    std::string references = declaration + " <PARAMETERS a='";
    for (int i = 0; i < 100000; ++i)
        references += "&amp;";
    references += "'/>";

    // Character data, processing instructions and comments mixed, filling the text up to its limit.
    const std::string mixed = "text<?pi data?>more<!-- c -->";
    std::string filler;
    while (filler.size() < kestrine::state::maximumTextBytes / 2 - 500)
        filler += mixed;

    const std::string entryOf1 = entry ("amplitude1", "0.2");

    struct Row { const char* name; Bytes block; const char* id; float expected; };
    const std::vector<Row> rows {
        { "50000 levels deep",            blockOf (nested (50000)),                                 nullptr, 0 },
        { "one level past the limit",     blockOf (nested (kestrine::state::maximumElementLevels + 1)), nullptr, 0 },
        { "self-referring entity",        blockOf ("<!DOCTYPE a [<!ENTITY e \"&&e;\">]><PARAMETERS x=\"&e;\"/>"), nullptr, 0 },
        { "undeclared entity",            blockOf (documentWith ("<PARAM id=\"amplitude1\" value=\"&e;\"/>")), nullptr, 0 },
        { "80000 attribute names",        blockOf (manyNames),                                      nullptr, 0 },
        { "80000 equal attributes",       blockOf (sameName),                                       nullptr, 0 },
        { "100000 references in a value", blockOf (references),                                     "amplitude1", 0.25f },
        { "2 MB attribute value",         blockOf (documentWith ("<PARAM id=\"amplitude1\" value=\"0.1" + std::string (2000000, '1') + "\"/>")), nullptr, 0 },
        { "value of a million digits",    blockOf (documentWith ("<PARAM id=\"amplitude1\" value=\"0.1" + std::string (1000000, '1') + "\"/>")), "amplitude1", 0.11f },
        { "truncated UTF-8 sequence",     blockOf (documentWith ("<PARAM id=\"x\" value=\"\xf0\"/>")),   nullptr, 0 },
        { "lone continuation byte",       blockOf (documentWith ("<PARAM id=\"x\" value=\"\x80\"/>")),   nullptr, 0 },
        { "Latin-1 byte",                 blockOf (documentWith ("<PARAM id=\"amplitude1\" value=\"0.1\xe9\"/>")), nullptr, 0 },
        { "no zero byte, N far beyond",   blockOf (nested (50000), 0x7fffffff, false),              nullptr, 0 },
        { "instruction, then text",       blockOf (documentWith ("<?pi data?>x" + entryOf1)),         "amplitude1", 0.2f },
        { "text after an instruction at the end", blockOf (documentWith (entryOf1 + " <?pi?>tail")), "amplitude1", 0.2f },
        { "text around an instruction",   blockOf (documentWith ("a<?pi?>b" + entryOf1)),             "amplitude1", 0.2f },
        { "a megabyte of text and instructions", blockOf (documentWith (filler + entryOf1 + filler)), "amplitude1", 0.2f },
        { "instruction target hiding entries", blockOf (hiddenEntriesText(), 0x7fffffff, false),    nullptr, 0 },
        { "mismatched closing tag",       blockOf (documentWith ("<PARAM id=\"amplitude1\" value=\"0.2\"></PARAMS>")), nullptr, 0 },
    };

    const Snapshot start (processor);
    std::chrono::steady_clock::duration longest {};
    const char* slowest = "";

    for (const auto& row : rows)
    {
        const auto began = std::chrono::steady_clock::now();
        restore (processor, row.block);
        const auto took = std::chrono::steady_clock::now() - began;

        if (row.id == nullptr)
        {
            EXPECT_TRUE (Snapshot (processor) == start) << row.name;
        }
        else
        {
            for (size_t i = 0; i < ParameterIds::all.size(); ++i)
            {
                const bool named = std::strcmp (ParameterIds::all[i], row.id) == 0;
                EXPECT_NEAR (valueOf (processor, ParameterIds::all[i]), named ? row.expected : start.values[i], 1.0e-6f)
                    << row.name << ": " << ParameterIds::all[i];
            }

            processor.parameters.replaceState (juce::ValueTree::fromXml (start.tree));
        }

        if (took > longest)
            longest = took, slowest = row.name;
    }

    std::printf ("[          ] slowest hostile block: %s, %.1f ms\n", slowest,
                 std::chrono::duration<double, std::milli> (longest).count());
}

TEST_F (StateTest, ANestingAtTheLimitIsStillParsed)
{
    restore (processor, blockOf (nested (kestrine::state::maximumElementLevels)));
    EXPECT_EQ (processor.parameters.state.getNumChildren(), 14);   // the one "a" and 13 appended entries
}

TEST_F (StateTest, NumbersThatAreNotFiniteLeaveParametersInRange)
{
    struct Row { const char* id; const char* value; float expected; };
    const Row rows[] = {
        { "amplitude1",  "nan",    0.0f },
        { "wavelength1", "NaN",    5.0f },     // read as 0, then limited
        { "frequency1",  "inf",    800.0f },
        { "frequency1",  "-inf",   0.0f },
        { "velocity",    "1e309",  1.0f },
        { "velocity",    "-1e300", -1.0f },
        { "drywet",      "1e39",   1.0f },
        { "backColor",   "inf",    5.0f },
        { "backColor",   "nan",    0.0f },
    };

    for (const auto& row : rows)
    {
        restore (processor, blockOf (documentWith (entry (row.id, row.value))));
        EXPECT_EQ (valueOf (processor, row.id), row.expected) << row.id << " = " << row.value;

        for (const auto* id : ParameterIds::all)
        {
            const auto value = valueOf (processor, id);
            const auto range = processor.parameters.getParameterRange (id);
            EXPECT_TRUE (std::isfinite (value) && value >= range.start && value <= range.end) << id;
        }
    }

    EXPECT_TRUE (std::isfinite (processor.distortion.target.load()));
    EXPECT_TRUE (std::isfinite (processor.bumps[0].position.load()));
}

//==============================================================================
TEST (StateText, KeepsElementsAndAttributesInDocumentOrderAndNothingElse)
{
    const auto xml = kestrine::state::readDocument (
        "<?xml version=\"1.0\"?>\n<!-- head --><R z=\"1\" a=\"&lt;&#x41;&#10;\" gr\xc3\xb6\xc3\x9f" "e=\"x\">text<?pi data?>more"
        "<A/><![CDATA[<B/>]]><B x=\"2\" y='3'><\xce\xa9 w=\"4\"/></B>tail<!-- c --></R>\n<?pi after?> ");

    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader()),
               juce::String::fromUTF8 ("<R z=\"1\" a=\"&lt;A&#10;\" gr\xc3\xb6\xc3\x9f" "e=\"x\"><A/><B x=\"2\" y=\"3\"><\xce\xa9 w=\"4\"/></B></R>"));
}

// What the reader takes and what it refuses, on plain text.
TEST (StateText, AcceptsWellFormedTextsWithinTheLimitsOnly)
{
    const auto attributesUpTo = [] (int names)   // a root and its attributes, names counted
    {
        std::string text = "<P";
        for (int i = 1; i < names; ++i)
            text += " a" + std::to_string (i) + "=''";
        return text + "/>";
    };

    std::string hidden = "<P>";
    for (int i = 0; i < 200; ++i)
        hidden += "<a x=\"/>\">";

    struct Row { std::string text; bool accepted; };
    const std::vector<Row> rows {
        { declaration + " <PARAMETERS><PARAM id=\"a\" value=\"1\"/></PARAMETERS>", true },
        { "<!-- c --><?pi x?><P a='&lt;&#60;&#x3c;&quot;&apos;&gt;'><![CDATA[<x>]]>t&amp;</P>", true },
        { "<P>x<?pi?>y<a/>z</P>",                      true },
        { "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><P/>", true },   // read as UTF-8 all the same
        { "<gr\xc3\xb6\xc3\x9f" "e \xce\xa9=''/>",       true },       // names with non-ASCII letters
        { nested (kestrine::state::maximumElementLevels), true },
        { attributesUpTo (kestrine::state::maximumNames), true },
        { "<P a='" + std::string (kestrine::state::maximumTextBytes - 10, 'x') + "'/>", true },

        { "",                                  false },
        { "<P>",                               false },
        { "<P><a></b></P>",                    false },   // mismatched closing tag
        { "<P a='1' a='2'/>",                  false },   // repeated attribute
        { "<P/><P/>",                          false },   // a second root
        { "<P a=\"/>\"/>" + nested (3),        false },   // anything after the root
        { "x<P/>",                             false },   // text before the root
        { hidden,                              false },
        { "<P>&<a><a><a>;</P>",                false },
        { "<P>&#1<!--;<a><a>--></P>",          false },
        { "<P a=b><a></P>",                    false },   // unquoted attribute
        { "<P <!-- --> a='1'/>",               false },
        { "< P/>",                             false },
        { "<P a='&QUOT;'/>",                   false },   // entity names are case-sensitive
        { "<P>&e;</P>",                        false },
        { "<!DOCTYPE P><P/>",                  false },
        { "<!DOCTYPE P [<!ENTITY e \"x\">]><P a='&e;'/>", false },
        { "<P>&#xD800;</P>", false }, { "<P>&#0;</P>", false }, { "<P>&#1234567890;</P>", false }, { "<P>&#x;</P>", false },
        { "<P>\xc0\xaf</P>",                    false },   // overlong form
        { "<P>\xed\xa0\x80</P>",                false },   // surrogate
        { "<P>\xf4\x90\x80\x80</P>",            false },   // above U+10FFFF
        { "<P><!--\xe9--></P>",                false },   // not UTF-8, even in a comment
        { "<P>\x01</P>",                        false },   // no XML character
        { "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><P a='\xe9'/>", false },
        { "<?9RAM id='x'?><P/>",               false },   // an instruction target that is no name
        { nested (kestrine::state::maximumElementLevels + 1), false },
        { attributesUpTo (kestrine::state::maximumNames + 1), false },
        { "<P a='" + std::string (kestrine::state::maximumTextBytes, 'x') + "'/>", false },
    };

    for (const auto& row : rows)
        EXPECT_EQ (kestrine::state::readDocument (row.text) != nullptr, row.accepted) << row.text.substr (0, 200);
}

//==============================================================================
TEST (StateHost, RoundTripThroughTheVst3WrapperIncludingBypass)
{
    auto plugin = loadBuiltPlugin();
    ASSERT_NE (plugin, nullptr);

    auto& parameters = plugin->getParameters();
    ASSERT_EQ (parameters.size(), 14);

    for (int i = 0; i < parameters.size(); ++i)
        parameters[i]->setValueNotifyingHost (i == 13 ? 1.0f : 0.2f + 0.05f * static_cast<float> (i));

    std::vector<float> stored;
    for (auto* parameter : parameters)
        stored.push_back (parameter->getValue());

    juce::MemoryBlock block;
    plugin->getStateInformation (block);

    for (auto* parameter : parameters)
        parameter->setValueNotifyingHost (parameter == parameters[13] ? 0.0f : 0.9f);

    plugin->setStateInformation (block.getData(), static_cast<int> (block.getSize()));
    runMessageLoopFor (50ms);

    for (int i = 0; i < parameters.size(); ++i)
        EXPECT_NEAR (parameters[i]->getValue(), stored[static_cast<size_t> (i)], 1.0e-4f) << parameters[i]->getName (32);

    EXPECT_EQ (plugin->getBypassParameter()->getValue(), 1.0f);
}
