#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The text side of the update notice: how the published version is read from a stream,
// how it is compared with the plug-in's own version, and what the label then says.
// Nothing here touches the network or the framework, so all of it can be tested directly.
namespace kestrine
{
    /** The plug-in's own version, from the build (the project's version). */
    constexpr std::string_view ownVersion = KESTRINE_VERSION;

    /** What a fetch that did not succeed counts as: never newer than any release. */
    constexpr std::string_view fallbackVersion = "1.0.0";

    /** The published version file is read into a buffer of this many bytes. */
    constexpr int receiveBufferSize = 32768;

    /** A connected byte stream, as the version reader needs it. */
    class VersionSource
    {
    public:
        virtual ~VersionSource() = default;

        /** Opens the connection; false when it could not be made. */
        virtual bool connect() = 0;

        /** The declared length of the body, negative when none was declared. */
        virtual std::int64_t totalLength() = 0;

        /** Reads up to maximumBytes; returns the count read, 0 at the end, negative on failure. */
        virtual int read (char* destination, int maximumBytes) = 0;

        /** True once the stream has reported an error. */
        virtual bool hasFailed() const = 0;
    };

    /** Reads the published version text from the source into a receiveBufferSize buffer.
        Reading stops when the declared length is reached, the buffer is full, a read returns
        nothing or fails, or the stream reports an error; each read asks for no more than the
        remaining declared length and the remaining buffer space. The fetch succeeded when
        the stream reports no error and either no length was declared or all of it arrived.
        Returns the bytes received up to the first zero byte, or nothing when it failed. */
    std::optional<std::string> readPublishedVersion (VersionSource& source);

    /** The platform word of the label, from the operating system's name. */
    std::string_view platformWordFor (std::string_view operatingSystemName) noexcept;

    /** "Version 2.5.0 " followed by the platform word. */
    std::string builtVersionLabel (std::string_view platformWord);

    /** The version number a text stands for: every '.' removed, then the leading decimal
        integer of the rest (white space skipped, an optional sign, digits up to the first
        non-digit; 0 when there are none). Saturates instead of overflowing. */
    std::int64_t versionNumber (std::string_view versionText);

    /** The label once the published version is known: "New version available " followed by
        the published text, unchanged, when its number is larger than the own version's;
        otherwise the built label. */
    std::string versionLabel (std::string_view builtLabel, std::string_view publishedVersion);
}
