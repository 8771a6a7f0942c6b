#pragma once

#include <juce_core/juce_core.h>

#include <functional>
#include <memory>

namespace kestrine::render
{
    /** Writes a file through a hidden temporary file beside it and renames it over the target
        only when write succeeds, so a failure never leaves a partial file. The target's folder
        must exist already: a missing folder, or a file where the folder or the target should
        be, is refused with a one-line reason. */
    juce::Result writeAtomically (const juce::File& target,
                                  const std::function<juce::Result (std::unique_ptr<juce::FileOutputStream>)>& write);

    /** Deletes the files in the folder (not its subfolders) that match the wildcard pattern and
        whose names are not among those kept: what a run did not write this time. */
    void deleteFilesNotIn (const juce::File& folder, const juce::String& pattern, const juce::StringArray& kept);
}
