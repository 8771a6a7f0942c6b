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

    constexpr bool isDigit (char c) noexcept      { return c >= '0' && c <= '9'; }
    constexpr bool isHexDigit (char c) noexcept   { return isDigit (c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
    constexpr bool isSpace (char c) noexcept      { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    /** The ASCII characters that the framework's parser reads as part of a name. */
    constexpr bool isNameCharacter (char c) noexcept
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit (c)
            || c == '_' || c == '-' || c == ':' || c == '.';
    }

    constexpr int hexValue (char c) noexcept
    {
        return isDigit (c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : c - 'A' + 10;
    }

    constexpr bool isCharacterCode (std::uint32_t code) noexcept
    {
        return code > 0 && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff);
    }

    /** One pass over a text, following it the way the framework's parser will, and counting
        element levels, names and entity references. It refuses whatever it cannot follow
        exactly, so that the counts it checks are the ones the parser will meet. The parser
        stops after the root element, and so does the scan. */
    class MarkupScan
    {
    public:
        explicit MarkupScan (std::string_view textToScan) noexcept : text (textToScan) {}

        bool isSafe() noexcept
        {
            while (! atEnd())
            {
                const char c = text[pos];

                if (c == '<')
                {
                    if (! readMarkup())
                        return false;

                    if (rootFinished)
                        return true;
                }
                else if (openElements == 0)
                {
                    // Before the root only white space, comments and processing instructions.
                    if (! isSpace (c))
                        return false;

                    ++pos;
                }
                else if (c == '&')
                {
                    if (! readReference())
                        return false;
                }
                else
                {
                    ++pos;
                }
            }

            return true;   // ran out inside the root: the parser fails there without going deeper
        }

    private:
        bool atEnd() const noexcept     { return pos >= text.size(); }
        char peek() const noexcept      { return atEnd() ? '\0' : text[pos]; }

        bool lookingAt (std::string_view s, bool ignoreCase = false) const noexcept
        {
            if (text.size() - pos < s.size())
                return false;

            for (std::size_t i = 0; i < s.size(); ++i)
            {
                const char c = text[pos + i];
                const char lower = ignoreCase && c >= 'A' && c <= 'Z' ? static_cast<char> (c - 'A' + 'a') : c;

                if (lower != s[i])
                    return false;
            }

            return true;
        }

        bool skipPast (std::string_view terminator) noexcept
        {
            const auto found = text.find (terminator, pos);

            if (found == std::string_view::npos)
                return false;

            pos = found + terminator.size();
            return true;
        }

        void skipSpace() noexcept
        {
            while (! atEnd() && isSpace (text[pos]))
                ++pos;
        }

        bool readName() noexcept
        {
            const auto start = pos;

            while (! atEnd() && isNameCharacter (text[pos]))
                ++pos;

            return pos > start && ++names <= maximumNames;
        }

        /** At a '<': a comment, processing instruction, CDATA section, end tag or element. */
        bool readMarkup() noexcept
        {
            if (lookingAt ("<!--"))
            {
                pos += 4;
                return skipPast ("-->");
            }

            if (lookingAt ("<?"))
            {
                pos += 2;
                return skipPast ("?>");
            }

            if (lookingAt ("<![CDATA["))
            {
                pos += 9;
                return openElements > 0 && skipPast ("]]>");
            }

            if (lookingAt ("<!"))
                return false;   // a document type declaration or worse

            if (lookingAt ("</"))
            {
                // The parser takes any end tag as the end of the open element.
                if (openElements == 0 || ! skipPast (">"))
                    return false;

                rootFinished = --openElements == 0;
                return true;
            }

            ++pos;
            return readElementTag();
        }

        /** After the '<' of a start tag: its name, attributes and '>' or "/>". */
        bool readElementTag() noexcept
        {
            if (openElements >= maximumElementLevels || ! readName())
                return false;

            for (;;)
            {
                skipSpace();

                if (lookingAt ("/>"))
                {
                    pos += 2;
                    rootFinished = openElements == 0;
                    return true;
                }

                if (peek() == '>')
                {
                    ++pos;
                    ++openElements;
                    return true;
                }

                if (! readName())
                    return false;

                skipSpace();

                if (peek() != '=')
                    return false;

                ++pos;
                skipSpace();

                if (! readQuotedValue())
                    return false;
            }
        }

        bool readQuotedValue() noexcept
        {
            const char quote = peek();

            if (quote != '"' && quote != '\'')
                return false;

            ++pos;

            for (int references = 0; ! atEnd();)
            {
                const char c = text[pos];

                if (c == quote)
                {
                    ++pos;
                    return true;
                }

                if (c == '&')
                {
                    if (++references > maximumEntitiesPerValue || ! readReference())
                        return false;
                }
                else
                {
                    ++pos;
                }
            }

            return false;
        }

        /** At a '&': one of the five predefined entities, or a character reference. */
        bool readReference() noexcept
        {
            ++pos;

            if (peek() == '#')
            {
                ++pos;
                const bool hex = peek() == 'x' || peek() == 'X';

                if (hex)
                    ++pos;

                const std::size_t maximumDigits = hex ? 6 : 7;
                std::uint32_t code = 0;
                std::size_t digits = 0;

                for (; ! atEnd() && (hex ? isHexDigit (text[pos]) : isDigit (text[pos])); ++pos)
                {
                    if (++digits > maximumDigits)
                        return false;

                    code = code * (hex ? 16u : 10u) + static_cast<std::uint32_t> (hexValue (text[pos]));
                }

                if (digits == 0 || peek() != ';' || ! isCharacterCode (code))
                    return false;

                ++pos;
                return true;
            }

            for (const std::string_view name : { "amp;", "lt;", "gt;", "quot;", "apos;" })
            {
                if (lookingAt (name, true))
                {
                    pos += name.size();
                    return true;
                }
            }

            return false;
        }

        const std::string_view text;
        std::size_t pos = 0;
        int openElements = 0;
        int names = 0;
        bool rootFinished = false;
    };
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

bool isValidUtf8 (std::string_view text) noexcept
{
    const auto* p = reinterpret_cast<const std::uint8_t*> (text.data());
    const auto* const end = p + text.size();

    while (p < end)
    {
        const std::uint32_t lead = *p++;

        if (lead < 0x80)
            continue;

        std::size_t extra = 0;
        std::uint32_t code = 0, smallest = 0;

        if (lead >= 0xc2 && lead <= 0xdf)       { extra = 1; code = lead & 0x1f; smallest = 0x80; }
        else if (lead >= 0xe0 && lead <= 0xef)  { extra = 2; code = lead & 0x0f; smallest = 0x800; }
        else if (lead >= 0xf0 && lead <= 0xf4)  { extra = 3; code = lead & 0x07; smallest = 0x10000; }
        else                                    return false;

        if (static_cast<std::size_t> (end - p) < extra)
            return false;

        for (std::size_t i = 0; i < extra; ++i, ++p)
        {
            if ((*p & 0xc0) != 0x80)
                return false;

            code = code << 6 | (*p & 0x3fu);
        }

        if (code < smallest || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;
    }

    return true;
}

bool isSafeToParse (std::string_view text) noexcept
{
    return text.size() <= maximumTextBytes
        && isValidUtf8 (text)
        && MarkupScan (text).isSafe();
}
}
