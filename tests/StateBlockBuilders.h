#pragma once

// Saved-state blocks built around a given text, for the tests that restore hand-made states.
#include "StateBlock.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace kestrine::test
{
    using Bytes = std::vector<std::uint8_t>;

    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

    /** A block around the text: magic number, N (the text's length unless given), text, zero. */
    inline Bytes blockOf (const std::string& text, std::optional<std::int32_t> length = std::nullopt, bool terminated = true)
    {
        const auto n = static_cast<std::uint32_t> (length.value_or (static_cast<std::int32_t> (text.size())));
        const auto header = kestrine::state::encodeHeader (n);
        Bytes block (header.size() + text.size() + (terminated ? 1u : 0u), 0);   // the zero comes with it
        std::memcpy (block.data(), header.data(), header.size());
        std::memcpy (block.data() + header.size(), text.data(), text.size());
        return block;
    }

    /** The same bytes, for the calls that take a juce::MemoryBlock. */
    inline juce::MemoryBlock memoryBlockOf (const Bytes& bytes)
    {
        return juce::MemoryBlock (bytes.data(), bytes.size());
    }

    inline std::string entry (const std::string& id, const std::string& value)
    {
        return "<PARAM id=\"" + id + "\" value=\"" + value + "\"/>";
    }

    /** A document whose root holds the given entries. */
    inline std::string documentWith (const std::string& entries, const std::string& root = "PARAMETERS")
    {
        return declaration + " <" + root + ">" + entries + "</" + root + ">";
    }
}
