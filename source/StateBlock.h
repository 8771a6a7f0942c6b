#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

/** The byte layout of Kestrine's saved state, and the checks a block from outside must pass
    before its text is handed to the XML parser. Framework-free, so that every rule can be
    tested on plain bytes.

    Layout (little-endian): the magic number, a signed 32-bit length N, N bytes of UTF-8 XML
    text, one zero byte. */
namespace kestrine::state
{
    constexpr std::uint32_t magicNumber = 0x21324356;
    constexpr std::size_t headerBytes = 8;                  // magic number and length field
    constexpr std::size_t overheadBytes = headerBytes + 1;  // plus the terminating zero

    /** Limits on a text that is handed to the parser. A state that Kestrine writes is about
        1 KB, two element levels deep, with 41 names and no entity references in its values;
        each limit leaves a wide margin above that. They exist because the framework's parser
        recurses once per element level, and its value-tree conversion spends time that grows
        with the square of the names in a tree and of the entity references in one attribute. */
    constexpr std::size_t maximumTextBytes = 1u << 20;
    constexpr int maximumElementLevels = 64;
    constexpr int maximumNames = 4096;            // element and attribute names, all counted
    constexpr int maximumEntitiesPerValue = 64;   // entity references in one attribute value

    /** The header of a block holding textLength bytes of text. */
    std::array<std::uint8_t, headerBytes> encodeHeader (std::uint32_t textLength) noexcept;

    /** Rewrites the length field of a finished block of blockSize bytes (at least
        overheadBytes) so that it holds blockSize - overheadBytes. */
    void storeTextLength (std::uint8_t* block, std::size_t blockSize) noexcept;

    /** The text of a state block, or nothing when the block is too short, does not start with
        the magic number or has a length field of zero or less. The text is at most N bytes,
        never runs past the block, and ends early at a zero byte; it may be empty. */
    std::optional<std::string_view> extractText (const void* block, int blockSize) noexcept;

    /** True when the bytes are well-formed UTF-8: shortest forms only, no surrogates, nothing
        above U+10FFFF. */
    bool isValidUtf8 (std::string_view text) noexcept;

    /** True when the text may be handed to the framework's XML parser: it is valid UTF-8 and
        within the limits above, and it uses only the plain subset of XML that a saved state
        needs (elements, quoted attributes, character data, the five predefined and numeric
        character references, comments, processing instructions, CDATA). Anything else — a
        document type declaration, other entity references, markup the scan cannot follow — is
        refused, since the parser could read it in ways that defeat the limits. A text that
        passes is not necessarily well-formed; the parser decides that. */
    bool isSafeToParse (std::string_view text) noexcept;
}
