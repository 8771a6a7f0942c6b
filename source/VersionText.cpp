#include "VersionText.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <limits>
#include <memory>

namespace kestrine
{
    std::optional<std::string> readPublishedVersion (VersionSource& source)
    {
        if (! source.connect())
            return std::nullopt;

        const auto declaredLength = source.totalLength();
        const auto lengthKnown = declaredLength >= 0;

        // Heap-allocated: the check runs on a worker thread whose stack need not be large.
        const auto buffer = std::make_unique<std::array<char, receiveBufferSize>>();
        std::int64_t received = 0;

        while (received < receiveBufferSize
               && ! (lengthKnown && received >= declaredLength)
               && ! source.hasFailed())
        {
            auto wanted = static_cast<std::int64_t> (receiveBufferSize) - received;

            if (lengthKnown)
                wanted = std::min (wanted, declaredLength - received);

            const auto count = source.read (buffer->data() + received, static_cast<int> (wanted));

            if (count <= 0)
                break;

            received += std::min<std::int64_t> (count, wanted);   // never trust a count beyond the request
        }

        const auto succeeded = ! source.hasFailed() && (declaredLength <= 0 || received >= declaredLength);

        if (! succeeded)
            return std::nullopt;

        const auto* const begin = buffer->data();
        const auto* const end = std::find (begin, begin + received, '\0');
        return std::string (begin, end);
    }

    std::string_view platformWordFor (std::string_view operatingSystemName) noexcept
    {
        if (operatingSystemName.find ("Mac") != std::string_view::npos)
            return "Mac";

        if (operatingSystemName.find ("Linux") != std::string_view::npos)
            return "Linux";

        return "Win";
    }

    std::string builtVersionLabel (std::string_view platformWord)
    {
        std::string label = "Version ";
        label += ownVersion;
        label += ' ';
        label += platformWord;
        return label;
    }

    std::int64_t versionNumber (std::string_view versionText)
    {
        constexpr auto isSpace = [] (char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
        constexpr auto isDigit = [] (char c) { return c >= '0' && c <= '9'; };
        constexpr auto limit = std::numeric_limits<std::int64_t>::max();

        std::string digits;
        digits.reserve (versionText.size());
        std::remove_copy (versionText.begin(), versionText.end(), std::back_inserter (digits), '.');

        auto position = digits.cbegin();

        while (position != digits.cend() && isSpace (*position))
            ++position;

        const auto negative = position != digits.cend() && *position == '-';

        if (position != digits.cend() && (*position == '-' || *position == '+'))
            ++position;

        std::int64_t magnitude = 0;

        for (; position != digits.cend() && isDigit (*position); ++position)
        {
            const auto digit = static_cast<std::int64_t> (*position - '0');
            magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
        }

        return negative ? -magnitude : magnitude;
    }

    std::string versionLabel (std::string_view builtLabel, std::string_view publishedVersion)
    {
        if (versionNumber (ownVersion) < versionNumber (publishedVersion))
            return "New version available " + std::string (publishedVersion);

        return std::string (builtLabel);
    }
}
