#include "VstPresetFile.h"

#include <juce_core/juce_core.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vst = kestrine::vstpreset;

namespace
{
    using Bytes = std::vector<std::uint8_t>;

    const std::string kestrineClassId = "ABCDEF019182FAEB4D52564E4B535452";

    Bytes bytesOf (const std::string& text)
    {
        return Bytes (text.begin(), text.end());
    }

    /** A preset with a 5-byte "Comp" and a 3-byte "Info" chunk. */
    vst::Preset twoChunks()
    {
        return { kestrineClassId, { { vst::componentStateId, bytesOf ("state") }, { vst::metaInfoId, bytesOf ("xml") } } };
    }

    Bytes written (const vst::Preset& preset)
    {
        const auto bytes = vst::write (preset);
        EXPECT_TRUE (bytes.has_value());
        return bytes.value_or (Bytes {});
    }

    void putLittleEndian (Bytes& bytes, size_t offset, std::uint64_t value, size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            bytes[offset + i] = static_cast<std::uint8_t> (value >> (8 * i));
    }

    vst::ReadResult readBytes (const Bytes& bytes)
    {
        return vst::read (bytes.data(), bytes.size());
    }

    // Where the parts of twoChunks() lie once written: the header, 5 + 3 bytes of data, then
    // the list with its two 20-byte entries.
    constexpr size_t listAt = 48 + 5 + 3;
    constexpr size_t countAt = listAt + 4;
    constexpr size_t firstEntryAt = listAt + 8;
    constexpr size_t secondEntryAt = firstEntryAt + 20;
}

TEST (VstPresetFile, WritesTheFormatsLayoutByteForByte)
{
    const auto bytes = written (twoChunks());

    std::string expected = "VST3";
    expected += std::string ("\x01\x00\x00\x00", 4);
    expected += kestrineClassId;
    expected += std::string ("\x38\0\0\0\0\0\0\0", 8);   // the list at 56
    expected += "statexml";
    expected += "List" + std::string ("\x02\0\0\0", 4);
    expected += "Comp" + std::string ("\x30\0\0\0\0\0\0\0", 8) + std::string ("\x05\0\0\0\0\0\0\0", 8);
    expected += "Info" + std::string ("\x35\0\0\0\0\0\0\0", 8) + std::string ("\x03\0\0\0\0\0\0\0", 8);

    EXPECT_EQ (std::string (bytes.begin(), bytes.end()), expected);
}

TEST (VstPresetFile, ReadsBackWhatItWrites)
{
    auto withEmptyChunk = twoChunks();
    withEmptyChunk.chunks.push_back ({ vst::controllerStateId, {} });
    withEmptyChunk.classId = "abcdef019182faeb4d52564e4b535452";   // either letter case is hexadecimal

    for (const auto& preset : { twoChunks(), withEmptyChunk, vst::Preset { kestrineClassId, {} } })
    {
        const auto read = readBytes (written (preset));
        ASSERT_TRUE (read.preset.has_value()) << read.error;
        EXPECT_TRUE (read.error.empty());
        EXPECT_EQ (read.preset->classId, preset.classId);
        ASSERT_EQ (read.preset->chunks.size(), preset.chunks.size());

        for (size_t i = 0; i < preset.chunks.size(); ++i)
        {
            EXPECT_EQ (read.preset->chunks[i].id, preset.chunks[i].id);
            EXPECT_EQ (read.preset->chunks[i].data, preset.chunks[i].data);
        }
    }

    const auto read = readBytes (written (twoChunks()));
    ASSERT_NE (read.preset->find (vst::componentStateId), nullptr);
    EXPECT_EQ (read.preset->find (vst::componentStateId)->data, bytesOf ("state"));
    EXPECT_EQ (read.preset->find (vst::controllerStateId), nullptr);
}

TEST (VstPresetFile, WriterRefusesABadClassIdOrARepeatedChunk)
{
    auto shortId = twoChunks();
    shortId.classId.pop_back();
    auto notHex = twoChunks();
    notHex.classId[5] = 'G';
    auto repeated = twoChunks();
    repeated.chunks.push_back ({ vst::componentStateId, bytesOf ("again") });

    for (const auto& preset : { shortId, notHex, repeated })
        EXPECT_FALSE (vst::write (preset).has_value()) << preset.classId;
}

TEST (VstPresetFile, RefusesBadFilesNamingTheFault)
{
    const auto good = written (twoChunks());

    const auto changed = [&good] (auto&& change)
    {
        auto bytes = good;
        change (bytes);
        return bytes;
    };

    const auto cutTo = [&good] (size_t size) { return Bytes (good.begin(), good.begin() + static_cast<std::ptrdiff_t> (size)); };

    const struct { const char* what; Bytes bytes; const char* expected; } cases[] = {
        { "empty",                    {},                                                                       "truncated: 0 bytes, fewer than the 48-byte header" },
        { "header cut short",         cutTo (47),                                                               "truncated: 47 bytes" },
        { "other tag",                changed ([] (Bytes& b) { b[3] = '2'; }),                                  "not a VST3 preset" },
        { "class ID not hex",         changed ([] (Bytes& b) { b[20] = 'x'; }),                                 "class ID is not 32 hexadecimal digits" },
        { "list cut off",             cutTo (listAt),                                                           "truncated: the chunk list at offset 56 lies beyond the end" },
        { "list offset in header",    changed ([] (Bytes& b) { putLittleEndian (b, 40, 47, 8); }),              "offset 47 lies inside the header" },
        { "list offset negative",     changed ([] (Bytes& b) { putLittleEndian (b, 40, ~0ull, 8); }),           "offset -1 lies inside the header" },
        { "list offset past end",     changed ([] (Bytes& b) { putLittleEndian (b, 40, 1ull << 62, 8); }),      "truncated: the chunk list at offset" },
        { "list tag missing",         changed ([] (Bytes& b) { b[listAt] = 'l'; }),                             "no \"List\" tag at offset 56" },
        { "negative count",           changed ([] (Bytes& b) { putLittleEndian (b, countAt, 0xFFFFFFFEu, 4); }), "negative chunk count -2" },
        { "count beyond the file",    changed ([] (Bytes& b) { putLittleEndian (b, countAt, 0x7FFFFFFFu, 4); }), "names 2147483647 chunks but the file ends after 2" },
        { "last entry cut short",     cutTo (good.size() - 1),                                                  "names 2 chunks but the file ends after 1" },
        { "chunk inside the header",  changed ([] (Bytes& b) { putLittleEndian (b, firstEntryAt + 4, 40, 8); }), "chunk \"Comp\" at offset 40, size 5 lies outside the chunk data (bytes 48 to 56)" },
        { "chunk into the list",      changed ([] (Bytes& b) { putLittleEndian (b, secondEntryAt + 12, 4, 8); }), "chunk \"Info\" at offset 53, size 4 lies outside" },
        { "chunk past the end",       changed ([] (Bytes& b) { putLittleEndian (b, firstEntryAt + 4, 1ull << 40, 8); }), "lies outside the chunk data" },
        { "size that would wrap",     changed ([] (Bytes& b) { putLittleEndian (b, firstEntryAt + 12, 0x7FFFFFFFFFFFFFFFull, 8); }), "lies outside the chunk data" },
        { "negative size",            changed ([] (Bytes& b) { putLittleEndian (b, firstEntryAt + 12, ~0ull, 8); }), "size -1 lies outside" },
        { "repeated ID",              changed ([] (Bytes& b) { std::memcpy (&b[secondEntryAt], "Comp", 4); }),  "two \"Comp\" chunks" },
        { "ID that is not text",      changed ([] (Bytes& b) { b[secondEntryAt + 1] = 0; }),                    "entry 2 has an ID that is not text" },
    };

    for (const auto& c : cases)
    {
        const auto read = readBytes (c.bytes);
        EXPECT_FALSE (read.preset.has_value()) << c.what;
        EXPECT_NE (read.error.find (c.expected), std::string::npos) << c.what << " -> " << read.error;
        EXPECT_EQ (read.error.find_first_of ("\r\n"), std::string::npos) << c.what;
    }
}

TEST (VstPresetFile, NoPrefixOrDamagedByteReadsOutsideTheFile)
{
    const auto good = written (twoChunks());

    // The list ends the file, so every shorter prefix loses part of it and is refused. Each
    // prefix is copied into a buffer of its own size, so the sanitizer builds catch any read
    // beyond it.
    for (size_t size = 0; size < good.size(); ++size)
    {
        const Bytes prefix (good.begin(), good.begin() + static_cast<std::ptrdiff_t> (size));
        const auto read = readBytes (prefix);
        EXPECT_FALSE (read.preset.has_value()) << size;
        EXPECT_FALSE (read.error.empty()) << size;
    }

    // Any one byte set to any of a few telling values: read or refused, never out of bounds.
    for (size_t at = 0; at < good.size(); ++at)
    {
        for (const auto value : std::initializer_list<std::uint8_t> { 0x00, 0x01, 0x7F, 0x80, 0xFF })
        {
            auto damaged = good;
            damaged[at] = value;
            const auto read = readBytes (damaged);
            EXPECT_NE (read.preset.has_value(), ! read.error.empty()) << at;

            if (read.preset.has_value())
            {
                for (const auto& chunk : read.preset->chunks)
                    EXPECT_LE (chunk.data.size(), good.size());
            }
        }
    }

    EXPECT_FALSE (vst::read (nullptr, 100).preset.has_value());
}

TEST (VstPresetFile, MetaInfoNamesThePresetWithTextEscaped)
{
    const auto xml = vst::metaInfoXml ("Kestrine", "Fx|Dynamics", "Rock & \"Roll\" <1>", "It's");
    const auto parsed = juce::parseXML (juce::String::fromUTF8 (xml.data(), static_cast<int> (xml.size())));
    ASSERT_NE (parsed, nullptr) << xml;
    EXPECT_TRUE (parsed->hasTagName ("MetaInfo"));

    std::map<juce::String, juce::String> values;

    for (const auto* attribute : parsed->getChildWithTagNameIterator ("Attr"))
    {
        EXPECT_EQ (attribute->getStringAttribute ("type"), "string");
        values[attribute->getStringAttribute ("id")] = attribute->getStringAttribute ("value");
    }

    const std::map<juce::String, juce::String> expected { { "MediaType", "VstPreset" }, { "PlugInName", "Kestrine" },
                                                         { "PlugInCategory", "Fx|Dynamics" }, { "Name", "Rock & \"Roll\" <1>" },
                                                         { "MusicalCategory", "It's" } };
    EXPECT_EQ (values, expected);
}
