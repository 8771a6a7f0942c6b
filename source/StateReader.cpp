#include "StateReader.h"

#include <expat.h>

#include <array>
#include <type_traits>

namespace kestrine::state
{
namespace
{
    struct ParserDeleter
    {
        void operator() (XML_Parser parser) const noexcept { XML_ParserFree (parser); }
    };

    using ParserPointer = std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserDeleter>;

    juce::String fromUtf8 (const XML_Char* text)
    {
        return juce::String::fromUTF8 (text);
    }

    /** Builds the element tree from the parser's element callbacks and enforces the limits
        there. A refusal stops the parser; the callbacks that expat may still deliver after
        that are ignored. */
    class TreeBuilder
    {
    public:
        explicit TreeBuilder (XML_Parser parserToStop) noexcept : parser (parserToStop) {}

        static void XMLCALL startElement (void* self, const XML_Char* name, const XML_Char** attributes)
        {
            static_cast<TreeBuilder*> (self)->open (name, attributes);
        }

        static void XMLCALL endElement (void* self, const XML_Char*)
        {
            static_cast<TreeBuilder*> (self)->close();
        }

        // Refused at its start, before any declaration in it is read. Without a document type
        // declaration expat itself refuses every entity but the five predefined ones.
        static void XMLCALL startDoctype (void* self, const XML_Char*, const XML_Char*, const XML_Char*, int)
        {
            static_cast<TreeBuilder*> (self)->refuse();
        }

        bool wasRefused() const noexcept               { return refused; }
        std::unique_ptr<juce::XmlElement> takeRoot()   { return std::move (root); }

    private:
        void open (const XML_Char* name, const XML_Char** attributes)
        {
            if (refused)
                return;

            if (levels == maximumElementLevels || (levels == 0 && root != nullptr) || ! countName())
                return refuse();

            juce::XmlElement* element = nullptr;

            if (levels == 0)
            {
                root = std::make_unique<juce::XmlElement> (fromUtf8 (name));
                element = root.get();
            }
            else
            {
                element = openElements[static_cast<size_t> (levels - 1)]->createNewChildElement (fromUtf8 (name));
            }

            // expat hands the attributes over in document order, each name once.
            for (auto** attribute = attributes; *attribute != nullptr; attribute += 2)
            {
                if (! countName())
                    return refuse();

                element->setAttribute (juce::Identifier (fromUtf8 (attribute[0])), fromUtf8 (attribute[1]));
            }

            openElements[static_cast<size_t> (levels++)] = element;
        }

        void close() noexcept
        {
            if (! refused)
                --levels;
        }

        bool countName() noexcept
        {
            return ++names <= maximumNames;
        }

        void refuse() noexcept
        {
            refused = true;
            XML_StopParser (parser, XML_FALSE);
        }

        const XML_Parser parser;
        std::unique_ptr<juce::XmlElement> root;
        std::array<juce::XmlElement*, maximumElementLevels> openElements {};   // owned by root
        int levels = 0;
        int names = 0;
        bool refused = false;
    };
}

std::unique_ptr<juce::XmlElement> readDocument (std::string_view text)
{
    if (text.size() > maximumTextBytes)
        return nullptr;

    // The encoding given here overrides whatever the text declares: a state is UTF-8, and
    // expat refuses any byte sequence that is not.
    const ParserPointer parser (XML_ParserCreate ("UTF-8"));

    if (parser == nullptr)
        return nullptr;

    TreeBuilder builder (parser.get());
    XML_SetUserData (parser.get(), &builder);
    XML_SetElementHandler (parser.get(), TreeBuilder::startElement, TreeBuilder::endElement);
    XML_SetStartDoctypeDeclHandler (parser.get(), TreeBuilder::startDoctype);

    // The whole text in one final call: a well-formed document ends there.
    const auto status = XML_Parse (parser.get(), text.data(), static_cast<int> (text.size()), XML_TRUE);

    if (status != XML_STATUS_OK || builder.wasRefused())
        return nullptr;

    return builder.takeRoot();
}
}
