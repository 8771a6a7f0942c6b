#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/** The VST3 preset file (.vstpreset), read and written without the framework, so that every
    rule can be tested on plain bytes. All integers are little-endian:

        offset  size  content
        0       4     "VST3"
        4       4     int32 format version, 1
        8       32    the component's class ID as 32 ASCII hexadecimal digits
        40      8     int64 offset of the chunk list
        48      ...   the chunks' data
        list    4     "List", then int32 count, then per chunk a 4-character ID, int64 offset
                      and int64 size

    A host restores a preset by handing the "Comp" chunk to the component's setState; "Info"
    holds XML meta data (the preset's name and category). */
namespace kestrine::vstpreset
{
    constexpr std::size_t headerBytes = 48;
    constexpr std::size_t classIdDigits = 32;
    constexpr std::int32_t formatVersion = 1;
    constexpr std::size_t listHeaderBytes = 8;    // "List" and the count
    constexpr std::size_t listEntryBytes = 20;    // ID, offset, size

    using ChunkId = std::array<char, 4>;

    constexpr ChunkId componentStateId  { 'C', 'o', 'm', 'p' };
    constexpr ChunkId controllerStateId { 'C', 'o', 'n', 't' };
    constexpr ChunkId metaInfoId        { 'I', 'n', 'f', 'o' };

    struct Chunk
    {
        ChunkId id {};
        std::vector<std::uint8_t> data;
    };

    struct Preset
    {
        std::string classId;          // 32 hexadecimal digits
        std::vector<Chunk> chunks;    // in the order of the chunk list; no ID twice

        /** The chunk with this ID, or nullptr. */
        const Chunk* find (const ChunkId& id) const noexcept;
    };

    /** The bytes of a preset file, its chunks stored in their order with the list after them.
        Nothing when the class ID is not 32 hexadecimal digits or two chunks share an ID. */
    std::optional<std::vector<std::uint8_t>> write (const Preset& preset);

    /** A file read back: the preset, or a one-line reason why the bytes are refused. */
    struct ReadResult
    {
        std::optional<Preset> preset;
        std::string error;    // empty when preset is set
    };

    /** Reads a preset file. Refuses (naming the fault) a file shorter than its header, one
        without the "VST3" tag, a class ID that is not 32 hexadecimal digits, a chunk list that
        lies outside the file or lacks its "List" tag, a count that is negative or larger than
        the file can hold, and an entry that repeats an ID, has an ID that is not printable
        text, or points outside the bytes between the header and the list. The version field
        is not checked. Never reads outside [bytes, bytes + size). */
    ReadResult read (const std::uint8_t* bytes, std::size_t size);

    /** The "Info" chunk's XML: media type, plug-in name and category, the preset's name and
        its musical category, each as an attribute, with XML's special characters escaped. */
    std::string metaInfoXml (std::string_view pluginName, std::string_view pluginCategory,
                             std::string_view presetName, std::string_view presetCategory);

    /** The ID as text, for messages: "Comp". */
    std::string idText (const ChunkId& id);
}
