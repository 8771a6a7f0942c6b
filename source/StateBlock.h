#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

/** The byte layout of Kestrine's saved state. Framework-free, so that every rule can be tested
    on plain bytes; StateReader reads the text.

    Layout (little-endian): the magic number, a signed 32-bit length N, N bytes of UTF-8 XML
    text, one zero byte. */
namespace kestrine::state
{
    constexpr std::uint32_t magicNumber = 0x21324356;
    constexpr std::size_t headerBytes = 8;                  // magic number and length field
    constexpr std::size_t overheadBytes = headerBytes + 1;  // plus the terminating zero

    /** The header of a block holding textLength bytes of text. */
    std::array<std::uint8_t, headerBytes> encodeHeader (std::uint32_t textLength) noexcept;

    /** Rewrites the length field of a finished block of blockSize bytes (at least
        overheadBytes) so that it holds blockSize - overheadBytes. */
    void storeTextLength (std::uint8_t* block, std::size_t blockSize) noexcept;

    /** The text of a state block, or nothing when the block is too short, does not start with
        the magic number or has a length field of zero or less. The text is at most N bytes,
        never runs past the block, and ends early at a zero byte; it may be empty. */
    std::optional<std::string_view> extractText (const void* block, int blockSize) noexcept;
}
