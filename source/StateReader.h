#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>
#include <memory>
#include <string_view>

/** Reads the XML text of a state block from outside. The text is parsed by libexpat (streaming,
    no recursion), and the element tree is built from its callbacks; the framework's own XML
    parser never sees untrusted text. */
namespace kestrine::state
{
    /** Limits on a text from outside. A state that Kestrine writes is about 1 KB, two element
        levels deep, with 41 names; each limit leaves a wide margin above that. The names are
        capped because the framework's trees and identifiers add a name by searching the ones
        already there, so their cost grows with the square of the names. */
    constexpr std::size_t maximumTextBytes = 1u << 20;
    constexpr int maximumElementLevels = 64;
    constexpr int maximumNames = 4096;   // element and attribute names, all counted

    /** The root element of the text, with its attributes and child elements in document order,
        or nothing when the text is refused. Character data, comments and processing
        instructions carry no state and are left out. Refused: a text that is not a well-formed
        UTF-8 XML document (whatever encoding it declares), a document type declaration, an
        entity other than the five predefined ones (character references are fine), more than
        maximumElementLevels levels or maximumNames names, more than maximumTextBytes bytes. */
    std::unique_ptr<juce::XmlElement> readDocument (std::string_view text);
}
