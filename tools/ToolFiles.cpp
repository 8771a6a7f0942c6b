#include "ToolFiles.h"

namespace kestrine::render
{
    juce::Result writeAtomically (const juce::File& target,
                                  const std::function<juce::Result (std::unique_ptr<juce::FileOutputStream>)>& write)
    {
        const auto where = target.getFullPathName();
        const auto fail = [] (const juce::String& message) { return juce::Result::fail (message); };

        if (target.isDirectory())
            return fail ("cannot write " + where + ": it is a folder");

        if (target.getParentDirectory().existsAsFile())
            return fail ("cannot write " + where + ": " + target.getParentDirectory().getFullPathName()
                         + " is a file, not a folder");

        if (! target.getParentDirectory().isDirectory())
            return fail ("cannot write " + where + ": folder " + target.getParentDirectory().getFullPathName()
                         + " does not exist");

        const juce::TemporaryFile temporary (target, juce::TemporaryFile::useHiddenFile);
        auto stream = std::make_unique<juce::FileOutputStream> (temporary.getFile());

        if (stream->failedToOpen())
            return fail ("cannot write " + where + ": " + stream->getStatus().getErrorMessage());

        const auto written = write (std::move (stream));

        if (written.failed())
            return written;   // the temporary file goes with its owner

        if (! temporary.overwriteTargetFileWithTemporary())
            return fail ("cannot write " + where + ": could not replace it");

        return juce::Result::ok();
    }

    void deleteFilesNotIn (const juce::File& folder, const juce::String& pattern, const juce::StringArray& kept)
    {
        for (const auto& stale : folder.findChildFiles (juce::File::findFiles, false, pattern))
            if (! kept.contains (stale.getFileName()))
                stale.deleteFile();
    }
}
