#include "VstPresetFile.h"

#include <algorithm>
#include <cstring>

namespace kestrine::vstpreset
{
    namespace
    {
        constexpr std::array<char, 4> fileTag { 'V', 'S', 'T', '3' };
        constexpr std::array<char, 4> listTag { 'L', 'i', 's', 't' };
        constexpr std::size_t classIdOffset = 8;
        constexpr std::size_t listOffsetOffset = 40;

        std::uint64_t readLittleEndian (const std::uint8_t* bytes, std::size_t count) noexcept
        {
            std::uint64_t value = 0;

            for (std::size_t i = count; i > 0; --i)
                value = (value << 8) | bytes[i - 1];

            return value;
        }

        std::int32_t readInt32 (const std::uint8_t* bytes) noexcept
        {
            return static_cast<std::int32_t> (static_cast<std::uint32_t> (readLittleEndian (bytes, 4)));
        }

        std::int64_t readInt64 (const std::uint8_t* bytes) noexcept
        {
            return static_cast<std::int64_t> (readLittleEndian (bytes, 8));
        }

        void appendLittleEndian (std::vector<std::uint8_t>& out, std::uint64_t value, std::size_t count)
        {
            for (std::size_t i = 0; i < count; ++i)
                out.push_back (static_cast<std::uint8_t> (value >> (8 * i)));
        }

        void appendTag (std::vector<std::uint8_t>& out, const std::array<char, 4>& tag)
        {
            for (const auto c : tag)
                out.push_back (static_cast<std::uint8_t> (c));
        }

        bool hasTag (const std::uint8_t* bytes, const std::array<char, 4>& tag) noexcept
        {
            return std::memcmp (bytes, tag.data(), tag.size()) == 0;
        }

        bool isHexDigit (char c) noexcept
        {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        }

        bool isClassId (std::string_view text) noexcept
        {
            return text.size() == classIdDigits && std::all_of (text.begin(), text.end(), isHexDigit);
        }

        bool isPrintable (const ChunkId& id) noexcept
        {
            return std::all_of (id.begin(), id.end(), [] (char c) { return c >= 0x20 && c < 0x7f; });
        }

        bool hasRepeatedId (const std::vector<Chunk>& chunks) noexcept
        {
            for (std::size_t i = 0; i < chunks.size(); ++i)
                for (std::size_t j = i + 1; j < chunks.size(); ++j)
                    if (chunks[i].id == chunks[j].id)
                        return true;

            return false;
        }

        ReadResult refuse (std::string reason)
        {
            return { std::nullopt, std::move (reason) };
        }

        void appendEscaped (std::string& out, std::string_view text)
        {
            for (const auto c : text)
            {
                switch (c)
                {
                    case '&':  out += "&amp;";  break;
                    case '<':  out += "&lt;";   break;
                    case '>':  out += "&gt;";   break;
                    case '"':  out += "&quot;"; break;
                    case '\'': out += "&apos;"; break;
                    default:   out += c;        break;
                }
            }
        }
    }

    const Chunk* Preset::find (const ChunkId& id) const noexcept
    {
        const auto found = std::find_if (chunks.begin(), chunks.end(), [&id] (const Chunk& c) { return c.id == id; });
        return found != chunks.end() ? &*found : nullptr;
    }

    std::string idText (const ChunkId& id)
    {
        return std::string (id.begin(), id.end());
    }

    std::optional<std::vector<std::uint8_t>> write (const Preset& preset)
    {
        if (! isClassId (preset.classId) || hasRepeatedId (preset.chunks))
            return std::nullopt;

        std::vector<std::uint8_t> out;
        appendTag (out, fileTag);
        appendLittleEndian (out, static_cast<std::uint32_t> (formatVersion), 4);
        out.insert (out.end(), preset.classId.begin(), preset.classId.end());
        appendLittleEndian (out, 0, 8);   // the list's offset, known once the data is in

        std::vector<std::uint64_t> offsets;

        for (const auto& chunk : preset.chunks)
        {
            offsets.push_back (out.size());
            out.insert (out.end(), chunk.data.begin(), chunk.data.end());
        }

        const auto listOffset = static_cast<std::uint64_t> (out.size());

        for (std::size_t i = 0; i < 8; ++i)
            out[listOffsetOffset + i] = static_cast<std::uint8_t> (listOffset >> (8 * i));

        appendTag (out, listTag);
        appendLittleEndian (out, static_cast<std::uint32_t> (preset.chunks.size()), 4);

        for (std::size_t i = 0; i < preset.chunks.size(); ++i)
        {
            appendTag (out, preset.chunks[i].id);
            appendLittleEndian (out, offsets[i], 8);
            appendLittleEndian (out, preset.chunks[i].data.size(), 8);
        }

        return out;
    }

    ReadResult read (const std::uint8_t* bytes, std::size_t size)
    {
        if (bytes == nullptr || size < headerBytes)
            return refuse ("truncated: " + std::to_string (size) + " bytes, fewer than the "
                           + std::to_string (headerBytes) + "-byte header");

        if (! hasTag (bytes, fileTag))
            return refuse ("not a VST3 preset: the file does not start with \"VST3\"");

        Preset preset;
        preset.classId.assign (reinterpret_cast<const char*> (bytes + classIdOffset), classIdDigits);

        if (! isClassId (preset.classId))
            return refuse ("bad header: the class ID is not 32 hexadecimal digits");

        // From here on every offset is checked as a signed 64-bit number against the size
        // before it is used, so that no sum can wrap.
        const auto listOffset = readInt64 (bytes + listOffsetOffset);
        const auto fileSize = static_cast<std::uint64_t> (size);

        if (listOffset < static_cast<std::int64_t> (headerBytes))
            return refuse ("bad chunk list: its offset " + std::to_string (listOffset) + " lies inside the header");

        const auto listStart = static_cast<std::uint64_t> (listOffset);

        if (listStart > fileSize || fileSize - listStart < listHeaderBytes)
            return refuse ("truncated: the chunk list at offset " + std::to_string (listOffset)
                           + " lies beyond the end of the file (" + std::to_string (size) + " bytes)");

        const auto* list = bytes + listStart;

        if (! hasTag (list, listTag))
            return refuse ("bad chunk list: no \"List\" tag at offset " + std::to_string (listOffset));

        const auto count = readInt32 (list + 4);

        if (count < 0)
            return refuse ("bad chunk list: negative chunk count " + std::to_string (count));

        const auto entriesPresent = (fileSize - listStart - listHeaderBytes) / listEntryBytes;

        if (static_cast<std::uint64_t> (count) > entriesPresent)
            return refuse ("truncated: the chunk list names " + std::to_string (count) + " chunks but the file ends after "
                           + std::to_string (entriesPresent));

        for (std::int32_t i = 0; i < count; ++i)
        {
            const auto* entry = list + listHeaderBytes + static_cast<std::size_t> (i) * listEntryBytes;
            Chunk chunk;
            std::memcpy (chunk.id.data(), entry, chunk.id.size());
            const auto offset = readInt64 (entry + 4);
            const auto length = readInt64 (entry + 12);

            if (! isPrintable (chunk.id))
                return refuse ("bad chunk list: entry " + std::to_string (i + 1) + " has an ID that is not text");

            const auto name = "\"" + idText (chunk.id) + "\"";

            if (preset.find (chunk.id) != nullptr)
                return refuse ("bad chunk list: two " + name + " chunks");

            // The chunk must lie wholly between the header and the list.
            if (offset < static_cast<std::int64_t> (headerBytes) || length < 0
                || static_cast<std::uint64_t> (offset) > listStart
                || static_cast<std::uint64_t> (length) > listStart - static_cast<std::uint64_t> (offset))
                return refuse ("bad chunk list: chunk " + name + " at offset " + std::to_string (offset) + ", size "
                               + std::to_string (length) + " lies outside the chunk data (bytes "
                               + std::to_string (headerBytes) + " to " + std::to_string (listOffset) + ")");

            const auto* data = bytes + offset;
            chunk.data.assign (data, data + length);
            preset.chunks.push_back (std::move (chunk));
        }

        return { std::move (preset), {} };
    }

    std::string metaInfoXml (std::string_view pluginName, std::string_view pluginCategory,
                             std::string_view presetName, std::string_view presetCategory)
    {
        std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<MetaInfo>\n";

        const auto attribute = [&xml] (std::string_view id, std::string_view value)
        {
            xml += "\t<Attr id=\"";
            xml += id;
            xml += "\" value=\"";
            appendEscaped (xml, value);
            xml += "\" type=\"string\" flags=\"writeProtected\"/>\n";
        };

        attribute ("MediaType", "VstPreset");
        attribute ("PlugInName", pluginName);
        attribute ("PlugInCategory", pluginCategory);
        attribute ("Name", presetName);
        attribute ("MusicalCategory", presetCategory);
        xml += "</MetaInfo>\n";
        return xml;
    }
}
