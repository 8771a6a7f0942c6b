#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

// One JUCE initialiser for the whole run: the message manager, the timers and the
// framework's singletons live as long as the tests do.
int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);
    const juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
