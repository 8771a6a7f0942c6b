#pragma once

#include <cstdint>
#include <string_view>

namespace kestrine
{
    /** The VST3 parameter ID under which the framework's VST3 wrapper publishes a parameter: the
        31-based string hash of its identifier, with the top bit cleared. The identifiers are
        ASCII, so hashing their bytes gives what the wrapper computes over their characters.
        The one place that knows the rule, for the tools and the tests that map IDs back. */
    constexpr std::uint32_t vst3ParameterId (std::string_view identifier) noexcept
    {
        std::uint32_t hash = 0;

        for (const char c : identifier)
            hash = hash * 31u + static_cast<unsigned char> (c);

        return hash & 0x7fffffffu;
    }
}
