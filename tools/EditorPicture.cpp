#include "EditorPicture.h"

namespace kestrine::render
{
    juce::File writeEditorPicture (const juce::File&, const RenderOptions&)
    {
        return {};
    }
}
