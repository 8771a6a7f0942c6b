#include "StateBlock.h"

#include <algorithm>
#include <cstring>

namespace kestrine::state
{
namespace
{
    constexpr std::uint32_t largestLength = 0x7fffffff;   // N is read as a signed 32-bit number

    std::uint32_t readLittleEndian (const std::uint8_t* bytes) noexcept
    {
        return static_cast<std::uint32_t> (bytes[0])
             | static_cast<std::uint32_t> (bytes[1]) << 8
             | static_cast<std::uint32_t> (bytes[2]) << 16
             | static_cast<std::uint32_t> (bytes[3]) << 24;
    }

    void writeLittleEndian (std::uint32_t value, std::uint8_t* bytes) noexcept
    {
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<std::uint8_t> (value >> (8 * i));
    }
}

//==============================================================================
std::array<std::uint8_t, headerBytes> encodeHeader (std::uint32_t textLength) noexcept
{
    std::array<std::uint8_t, headerBytes> header {};
    writeLittleEndian (magicNumber, header.data());
    writeLittleEndian (textLength, header.data() + 4);
    return header;
}

void storeTextLength (std::uint8_t* block, std::size_t blockSize) noexcept
{
    writeLittleEndian (static_cast<std::uint32_t> (blockSize - overheadBytes), block + 4);
}

std::optional<std::string_view> extractText (const void* block, int blockSize) noexcept
{
    if (block == nullptr || blockSize < static_cast<int> (overheadBytes))
        return std::nullopt;

    const auto* bytes = static_cast<const std::uint8_t*> (block);
    const auto declaredLength = readLittleEndian (bytes + 4);

    if (readLittleEndian (bytes) != magicNumber || declaredLength == 0 || declaredLength > largestLength)
        return std::nullopt;

    const auto* start = reinterpret_cast<const char*> (bytes + headerBytes);
    const auto length = std::min<std::size_t> (declaredLength, static_cast<std::size_t> (blockSize) - headerBytes);
    const auto* zero = static_cast<const char*> (std::memchr (start, 0, length));

    return std::string_view (start, zero != nullptr ? static_cast<std::size_t> (zero - start) : length);
}
}
