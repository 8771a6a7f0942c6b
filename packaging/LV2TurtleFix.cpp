// Mends the Turtle files that JUCE 7.0.5's LV2 client writes into a bundle, so that they pass
// the LV2 validator and describe the plug-in as it behaves:
//   dsp.ttl       the plug-in's maintainer and release move to a doap:Project that the
//                 plug-in names with lv2:project (they describe projects, not plug-ins); the
//                 plug-in gets the class lv2:DynamicsPlugin, as the VST3 is "Fx|Dynamics";
//                 scale points of an enumerated parameter hold plain values, as
//                 the plug-in reads them from patch:Set (JUCE writes normalised ones), and the
//                 parameter loses lv2:portProperty, a property of ports only; the maintainer's
//                 e-mail address becomes a mailto: IRI instead of a relative one.
//   ui.ttl        ui:noUserResize is a feature, not extension data; opts:interface is extension
//                 data, not a feature.
//   manifest.ttl  the property that the program presets store is declared and labelled.
// Each mend applies only where the file still has the fault, so running it twice changes
// nothing more.
//
// Usage: kestrine-lv2-turtle-fix BUNDLE_FOLDER
// Exits 1 with a one-line message when a file cannot be read or written.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace
{
    std::optional<std::string> readFile (const std::string& path)
    {
        std::ifstream in (path, std::ios::binary);

        if (! in)
            return std::nullopt;

        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    bool writeFile (const std::string& path, const std::string& text)
    {
        const auto temporary = path + ".tmp";

        {
            std::ofstream out (temporary, std::ios::binary | std::ios::trunc);
            out << text;

            if (! out.flush())
                return false;
        }

        return std::rename (temporary.c_str(), path.c_str()) == 0;
    }

    bool replaceFirst (std::string& text, const std::string& from, const std::string& to)
    {
        const auto at = text.find (from);

        if (at == std::string::npos)
            return false;

        text.replace (at, from.size(), to);
        return true;
    }

    /** The number after "key " in the block, if there is one. */
    std::optional<double> numberAfter (const std::string& block, const std::string& key)
    {
        const auto at = block.find (key + " ");

        if (at == std::string::npos)
            return std::nullopt;

        const auto start = block.c_str() + at + key.size() + 1;
        char* end = nullptr;
        const auto value = std::strtod (start, &end);
        return end != start ? std::optional<double> (value) : std::nullopt;
    }

    std::string numberText (double value)
    {
        char text[32];
        std::snprintf (text, sizeof (text), "%.9g", value);
        return text;
    }

    /** In a parameter's block: drops lv2:portProperty and turns each scale point's normalised
        rdf:value into the plain value between lv2:minimum and lv2:maximum. */
    std::string mendEnumeratedParameter (std::string block)
    {
        const std::string property = "\tlv2:portProperty lv2:enumeration";
        const auto propertyAt = block.find (property);

        if (propertyAt == std::string::npos || block.find ("lv2:scalePoint") == std::string::npos)
            return block;

        const auto minimum = numberAfter (block, "lv2:minimum");
        const auto maximum = numberAfter (block, "lv2:maximum");

        if (! minimum || ! maximum)
            return block;

        block.erase (propertyAt, block.find ('\n', propertyAt) - propertyAt + 1);

        const std::string valueKey = "rdf:value ";

        for (auto at = block.find (valueKey); at != std::string::npos; at = block.find (valueKey, at))
        {
            const auto start = at + valueKey.size();
            const auto end = block.find (" ;", start);

            if (end == std::string::npos)
                break;

            const auto normalised = std::strtod (block.substr (start, end - start).c_str(), nullptr);
            const auto plain = numberText (*minimum + normalised * (*maximum - *minimum));
            block.replace (start, end - start, plain);
            at = start + plain.size();
        }

        return block;
    }

    // The LV2 class that matches the VST3 subcategory "Fx|Dynamics".
    constexpr const char* pluginClass = "DynamicsPlugin";

    /** doap:maintainer and doap:release describe a doap:Project, which an lv2:Plugin is not:
        moves them from the plug-in to a project of its own that the plug-in names with
        lv2:project, where hosts look for the author too. */
    void moveMaintainerToProject (std::string& text)
    {
        const std::string maintainer = "\tdoap:maintainer [\n";
        const std::string release = "\tdoap:release [\n";
        const std::string closing = "\t] ;\n";
        const std::string link = "\tlv2:project plug:project ;\n";

        if (text.find (link) != std::string::npos)
            return;

        const auto start = text.find (maintainer);
        const auto releaseAt = text.find (release, start);

        if (start == std::string::npos || releaseAt == std::string::npos)
            return;

        const auto end = text.find (closing, releaseAt);

        if (end == std::string::npos)
            return;

        auto description = text.substr (start, end + closing.size() - start);
        description.replace (description.size() - 2, 1, ".");   // the last entry ends the block

        const auto nameStart = text.find ("\tdoap:name ");
        const auto name = nameStart == std::string::npos ? std::string()
                                                         : text.substr (nameStart, text.find ('\n', nameStart) + 1 - nameStart);

        text.replace (start, end + closing.size() - start, link);
        text += "\nplug:project\n\ta doap:Project ;\n" + name + description;
    }

    std::string mendDsp (const std::string& text)
    {
        // Blocks are separated by blank lines.
        std::string mended;
        std::size_t start = 0;

        while (start < text.size())
        {
            auto end = text.find ("\n\n", start);
            end = end == std::string::npos ? text.size() : end + 2;
            mended += mendEnumeratedParameter (text.substr (start, end - start));
            start = end;
        }

        moveMaintainerToProject (mended);
        replaceFirst (mended, "\ta lv2:Plugin ;\n", "\ta lv2:Plugin , lv2:" + std::string (pluginClass) + " ;\n");

        const std::string mailbox = "foaf:mbox <";
        const auto at = mended.find (mailbox);

        if (at != std::string::npos && mended.compare (at + mailbox.size(), 7, "mailto:") != 0)
            mended.insert (at + mailbox.size(), "mailto:");

        return mended;
    }

    /** Removes "\t\titem ,\n" from the object list of the predicate that starts at "\tpredicate\n". */
    void removeListItem (std::string& text, const std::string& predicate, const std::string& item)
    {
        const auto listAt = text.find ("\t" + predicate + "\n");

        if (listAt == std::string::npos)
            return;

        const auto listEnd = text.find (";\n", listAt);
        const auto itemAt = text.find ("\t\t" + item + " ,\n", listAt);

        if (itemAt != std::string::npos && itemAt < listEnd)
            text.erase (itemAt, item.size() + 5);
    }

    std::string mendUi (const std::string& original)
    {
        auto text = original;
        removeListItem (text, "lv2:extensionData", "ui:noUserResize");
        removeListItem (text, "lv2:optionalFeature", "opts:interface");
        return text;
    }

    std::string mendManifest (const std::string& original)
    {
        auto text = original;
        // The presets store the program's index under the plug-in's own "Program" property.
        const std::string suffix = ":Program>";
        const auto at = text.find (suffix);

        if (at == std::string::npos)
            return text;

        const auto open = text.rfind ('<', at);
        const auto property = text.substr (open, at + suffix.size() - open);

        if (text.find (property + "\n\ta <http://www.w3.org/1999/02/22-rdf-syntax-ns#Property>") != std::string::npos)
            return text;

        text += property + "\n"
                "\ta <http://www.w3.org/1999/02/22-rdf-syntax-ns#Property> ;\n"
                "\trdfs:label \"Program\" ;\n"
                "\trdfs:comment \"Index of the plug-in program that a preset selects.\" .\n";
        return text;
    }

    struct TurtleFile
    {
        const char* name;
        std::string (*mend) (const std::string&);
        bool mayBeAbsent;   // a plug-in without an editor has no ui.ttl
    };
}

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: kestrine-lv2-turtle-fix BUNDLE_FOLDER\n";
        return 2;
    }

    const std::string bundle = argv[1];
    const TurtleFile files[] {
        { "dsp.ttl", mendDsp, false },
        { "ui.ttl", mendUi, true },
        { "manifest.ttl", mendManifest, false },
    };

    for (const auto& file : files)
    {
        const auto path = bundle + "/" + file.name;
        const auto text = readFile (path);

        if (! text)
        {
            if (file.mayBeAbsent)
                continue;

            std::cerr << "kestrine-lv2-turtle-fix: cannot read " << path << "\n";
            return 1;
        }

        const auto mended = file.mend (*text);

        if (mended != *text && ! writeFile (path, mended))
        {
            std::cerr << "kestrine-lv2-turtle-fix: cannot write " << path << "\n";
            return 1;
        }
    }

    return 0;
}
