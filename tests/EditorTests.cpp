#include "EditorSnapshot.h"
#include "MirrorChecks.h"
#include "OtherLookAndFeel.h"
#include "PluginEditor.h"
#include "PluginProcessor.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

// Everything here renders window-less: components are painted into images and never put on
// the desktop, so the tests need no display.
namespace
{
    using Editor = CompressorAudioProcessorEditor;

    constexpr float pi = 3.14159265f;

    juce::Image snapshot (juce::Component& component)
    {
        return component.createComponentSnapshot (component.getLocalBounds(), true, 1.0f);
    }

    /** The editor's own paint alone (background, captions, version text), without its children. */
    juce::Image paintOnly (Editor& editor)
    {
        juce::Image image (juce::Image::ARGB, editor.getWidth(), editor.getHeight(), true);
        juce::Graphics g (image);
        editor.paint (g);
        return image;
    }

    void setParameter (CompressorAudioProcessor& processor, const char* id, float value)
    {
        auto* parameter = processor.parameters.getParameter (id);
        ASSERT_NE (parameter, nullptr) << id;
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
    }

    template <typename ComponentType>
    ComponentType& child (juce::Component& parent, const char* id)
    {
        if (auto* found = dynamic_cast<ComponentType*> (parent.findChildWithID (id)))
            return *found;

        throw std::runtime_error (std::string ("no child component ") + id);
    }

    int channelDistance (juce::Colour a, juce::Colour b)
    {
        return std::max ({ std::abs (a.getAlpha() - b.getAlpha()), std::abs (a.getRed() - b.getRed()),
                           std::abs (a.getGreen() - b.getGreen()), std::abs (a.getBlue() - b.getBlue()) });
    }

    /** The smallest rectangle inside area holding every pixel that differs from background. */
    juce::Rectangle<int> inkBounds (const juce::Image& image, juce::Rectangle<int> area, juce::Colour background)
    {
        juce::Rectangle<int> ink;
        bool any = false;

        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                if (channelDistance (image.getPixelAt (x, y), background) > 24)
                {
                    const juce::Rectangle<int> pixel (x, y, 1, 1);
                    ink = any ? ink.getUnion (pixel) : pixel;
                    any = true;
                }

        return ink;
    }

    int maximumAlpha (const juce::Image& image, juce::Rectangle<int> area)
    {
        int alpha = 0;

        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                alpha = std::max (alpha, static_cast<int> (image.getPixelAt (x, y).getAlpha()));

        return alpha;
    }

    juce::Colour themeBackground (int index)
    {
        constexpr std::array<juce::uint32, 7> argb { 0xFF4682B4, 0xFF4682B4, 0xFF663399, 0xFFA52A2A,
                                                     0xFFDAA520, 0xFFFF1493, 0xFF5F9EA0 };
        return juce::Colour (argb[static_cast<size_t> (index)]);
    }

    /** The display panel's colour in a theme: the panel's white veil over the background. */
    juce::Colour panelColour (int theme)
    {
        return themeBackground (theme).overlaidWith (juce::Colour (0x66F5F5F5));
    }

    class EditorTest  : public ::testing::Test
    {
    protected:
        void SetUp() override              { editor = std::make_unique<Editor> (processor); }

        OtherLookAndFeel& lookAndFeel()    { return dynamic_cast<OtherLookAndFeel&> (editor->getLookAndFeel()); }
        juce::Slider& knob (const char* id) { return child<juce::Slider> (*editor, id); }

        CompressorAudioProcessor processor;
        std::unique_ptr<Editor> editor;
    };
}

//==============================================================================
TEST (EditorFont, EmbeddedDataIsTheCommittedSulphurPointBold)
{
    const juce::File fontFile (juce::String (KESTRINE_SOURCE_DIR) + "/resources/SulphurPoint-Bold.ttf");
    ASSERT_TRUE (fontFile.existsAsFile());

    juce::MemoryBlock committed;
    ASSERT_TRUE (fontFile.loadFileAsData (committed));
    ASSERT_EQ (static_cast<size_t> (BinaryData::SulphurPointBold_ttfSize), committed.getSize());
    EXPECT_EQ (0, std::memcmp (committed.getData(), BinaryData::SulphurPointBold_ttf, committed.getSize()));

    // TrueType outlines (sfnt version 1.0), read by the system's font services as Sulphur Point Bold.
    const auto* bytes = reinterpret_cast<const unsigned char*> (BinaryData::SulphurPointBold_ttf);
    EXPECT_EQ (0x00010000u, (juce::uint32) bytes[0] << 24 | (juce::uint32) bytes[1] << 16 | (juce::uint32) bytes[2] << 8 | bytes[3]);

    const auto typeface = kestrine::makeEmbeddedTypeface();
    ASSERT_NE (typeface, nullptr);
    EXPECT_EQ (juce::String ("Sulphur Point"), typeface->getName());
    EXPECT_EQ (juce::String ("Bold"), typeface->getStyle());

    // Both merged subsets are there: a latin and a latin-ext letter have glyphs with outlines.
    for (const auto* text : { "K", "\xc5\x81" })   // K, and L with stroke
    {
        juce::Array<int> glyphs;
        juce::Array<float> offsets;
        typeface->getGlyphPositions (juce::String::fromUTF8 (text), glyphs, offsets);
        ASSERT_EQ (1, glyphs.size()) << text;
        EXPECT_GT (glyphs[0], 0) << text;

        juce::Path outline;
        EXPECT_TRUE (typeface->getOutlineForGlyph (glyphs[0], outline)) << text;
        EXPECT_FALSE (outline.isEmpty()) << text;
    }
}

//==============================================================================
TEST_F (EditorTest, WindowIsFixedAt840By520)
{
    EXPECT_EQ (840, editor->getWidth());
    EXPECT_EQ (520, editor->getHeight());
    EXPECT_FALSE (editor->isResizable());

    for (auto* component : editor->getChildren())
        EXPECT_EQ (dynamic_cast<juce::ResizableCornerComponent*> (component), nullptr);

    EXPECT_NE (dynamic_cast<OtherLookAndFeel*> (&editor->getLookAndFeel()), nullptr);
}

TEST_F (EditorTest, ControlsCarryTheirTextsAndParameterRanges)
{
    auto& box = child<juce::ComboBox> (*editor, "backColor");
    const juce::StringArray themes { "Vibrato Background", "Crescendo Background", "Rhapsody Background",
                                     "Staccato Background", "Tremolo Background", "Arpeggio Background" };
    ASSERT_EQ (themes.size(), box.getNumItems());

    for (int i = 0; i < themes.size(); ++i)
    {
        EXPECT_EQ (themes[i], box.getItemText (i));
        EXPECT_EQ (i + 1, box.getItemId (i));
    }

    EXPECT_EQ (1, box.getSelectedId());
    EXPECT_EQ (juce::String ("Normalized"), child<juce::ToggleButton> (*editor, "normalized").getButtonText());
    EXPECT_EQ (juce::String ("www.morvane-audio.com"), child<juce::TextButton> (*editor, "web").getButtonText());

    struct Expected { const char* id; double minimum, maximum, value; };
    constexpr std::array<Expected, 6> knobs { {
        { "wavelength1", 5.0, 100.0, 50.0 }, { "wavelength2", 5.0, 100.0, 50.0 }, { "wavelength3", 5.0, 100.0, 50.0 },
        { "velocity", -1.0, 1.0, 0.0 }, { "distortion", -1.0, 1.0, 0.0 }, { "drywet", 0.0, 1.0, 1.0 }
    } };

    for (const auto& expected : knobs)
    {
        auto& slider = knob (expected.id);
        EXPECT_EQ (juce::Slider::RotaryVerticalDrag, slider.getSliderStyle()) << expected.id;
        EXPECT_EQ (juce::Slider::NoTextBox, slider.getTextBoxPosition()) << expected.id;
        EXPECT_DOUBLE_EQ (expected.minimum, slider.getMinimum()) << expected.id;
        EXPECT_DOUBLE_EQ (expected.maximum, slider.getMaximum()) << expected.id;
        EXPECT_DOUBLE_EQ (expected.value, slider.getValue()) << expected.id;
    }
}

TEST_F (EditorTest, VersionLabelNamesThePlatformItRunsOn)
{
   #if JUCE_MAC
    EXPECT_EQ (juce::String ("Version 2.5.0 Mac"), editor->getVersionText());
   #elif JUCE_LINUX
    EXPECT_EQ (juce::String ("Version 2.5.0 Linux"), editor->getVersionText());
   #elif JUCE_WINDOWS
    EXPECT_EQ (juce::String ("Version 2.5.0 Win"), editor->getVersionText());
   #endif

    // Drawn faintly, centred in (150, 490, 200, 30).
    const auto image = paintOnly (*editor);
    const auto background = themeBackground (1);
    // Below the display panel, the version text is the only thing the editor paints itself.
    const auto ink = inkBounds (image, { 0, 482, 840, 38 }, background);
    ASSERT_FALSE (ink.isEmpty());
    EXPECT_TRUE (juce::Rectangle<int> (150, 490, 200, 30).contains (ink)) << ink.toString();
    EXPECT_NEAR (250, ink.getCentreX(), 2);
    EXPECT_NEAR (505, ink.getCentreY(), 3);

    // Only lighter, never opaque white: white at alpha 76 over the background.
    const auto brightest = image.getPixelAt (ink.getCentreX(), ink.getCentreY());
    EXPECT_LE (brightest.getRed(), background.getRed() + (255 - background.getRed()) * 0.31f + 2);

    editor->setVersionText ("New version available 2.6.0");
    EXPECT_EQ (juce::String ("New version available 2.6.0"), editor->getVersionText());
    EXPECT_GT (inkBounds (paintOnly (*editor), { 150, 490, 200, 30 }, background).getWidth(), ink.getWidth());
}

// A program that makes an editor only to inspect it and never turns the message loop (the LV2
// manifest writer at build time) must send no request and leave no request thread behind; a
// window on screen starts its check as soon as the loop runs; a picture drawn offscreen never
// starts one.
TEST_F (EditorTest, VersionCheckStartsOnTheMessageLoopNotInTheConstructor)
{
    EXPECT_FALSE (editor->versionCheckStarted());

    CompressorAudioProcessor other;
    auto inspected = std::make_unique<Editor> (other);
    EXPECT_FALSE (inspected->versionCheckStarted());
    inspected.reset();   // its pending start must not touch the destroyed editor

    CompressorAudioProcessor pictured;
    const Editor picture (pictured, Editor::VersionCheck::skip);

    EXPECT_TRUE (kestrine::test::runMessageLoopUntil ([&] { return editor->versionCheckStarted(); }));
    EXPECT_FALSE (picture.versionCheckStarted());   // the loop has run past where it would have started
}

//==============================================================================
// The host changes "backColor" while the window is open: the combo box, the processor's index,
// the theme colour and the painted background all follow.
TEST_F (EditorTest, ThemeFollowsTheHostsBackColorParameter)
{
    for (int choice : { 3, 1, 5, 2, 4, 0 })
    {
        SCOPED_TRACE (choice);
        setParameter (processor, "backColor", static_cast<float> (choice));

        const int id = choice + 1;
        EXPECT_EQ (id, child<juce::ComboBox> (*editor, "backColor").getSelectedId());
        EXPECT_EQ (id, processor.backgroundIndex.load());
        EXPECT_EQ (themeBackground (id), lookAndFeel().themeColour);

        const auto image = snapshot (*editor);
        for (const auto& point : { juce::Point<int> (5, 70), juce::Point<int> (830, 30), juce::Point<int> (10, 300) })
            EXPECT_EQ (themeBackground (id), image.getPixelAt (point.x, point.y)) << point.toString();
    }
}

TEST_F (EditorTest, ThemeFollowsAutomationFromTheAudioThread)
{
    std::thread automation ([this] { setParameter (processor, "backColor", 5.0f); });
    automation.join();

    EXPECT_TRUE (kestrine::test::runMessageLoopUntil ([this] { return lookAndFeel().themeColour == themeBackground (6); }));
    EXPECT_EQ (6, child<juce::ComboBox> (*editor, "backColor").getSelectedId());
    EXPECT_EQ (6, processor.backgroundIndex.load());
}

TEST_F (EditorTest, ChoosingAThemeInTheBoxSetsTheParameterAndThePopupColours)
{
    child<juce::ComboBox> (*editor, "backColor").setSelectedId (3, juce::sendNotificationSync);

    EXPECT_EQ (2, processor.parameters.getRawParameterValue ("backColor")->load());
    EXPECT_EQ (3, processor.backgroundIndex.load());

    // The popup menu of the box, drawn by the window's look and feel: brown with a 1-pixel frame
    // of the popup text colour (white) at alpha 0.6.
    juce::Image menu (juce::Image::ARGB, 120, 80, true);
    {
        juce::Graphics g (menu);
        lookAndFeel().drawPopupMenuBackground (g, menu.getWidth(), menu.getHeight());
    }

    const juce::Colour brown (0xFFA52A2A);
    const auto frame = brown.overlaidWith (juce::Colour (0x99FFFFFF));
    EXPECT_EQ (brown, menu.getPixelAt (60, 40));
    EXPECT_EQ (brown, menu.getPixelAt (1, 1));

    for (const auto& point : { juce::Point<int> (0, 40), juce::Point<int> (119, 40), juce::Point<int> (60, 0),
                               juce::Point<int> (60, 79), juce::Point<int> (0, 0) })
        EXPECT_LE (channelDistance (frame, menu.getPixelAt (point.x, point.y)), 2) << point.toString();
}

//==============================================================================
TEST_F (EditorTest, KnobsAppearAtTheirPlacesOnceABumpHasAnAmplitude)
{
    const juce::Rectangle<int> hidden (-3000, 0, 0, 0);
    const juce::Rectangle<int> widthPlace (120, 385, 100, 100), movePlace (270, 385, 100, 100);
    // The knobs sit on the display panel; above its bottom edge (y 480) nothing else is drawn there.
    const auto background = panelColour (1);
    auto onPanel = [] (juce::Rectangle<int> area) { return area.withBottom (480); };

    auto expectEmpty = [&] (const juce::Image& image, juce::Rectangle<int> area)
    {
        EXPECT_TRUE (inkBounds (image, onPanel (area), background).isEmpty()) << area.toString();
    };

    // All amplitudes 0, as by default: only "Distort" and "Dry/Wet".
    auto image = snapshot (*editor);
    EXPECT_EQ (juce::Rectangle<int> (470, 385, 100, 100), knob ("distortion").getBounds());
    EXPECT_EQ (juce::Rectangle<int> (620, 385, 100, 100), knob ("drywet").getBounds());
    EXPECT_EQ (hidden, knob ("velocity").getBounds());

    for (const auto* id : { "wavelength1", "wavelength2", "wavelength3" })
        EXPECT_EQ (hidden, knob (id).getBounds()) << id;

    expectEmpty (image, movePlace);
    expectEmpty (image, widthPlace);

    // A knob's ring lies in its rectangle: distortion 0 is mid-travel, so the black value arc
    // covers the left (270 degrees) and only the faint track the right (90 degrees).
    EXPECT_LT (image.getPixelAt (470 + 50 - 36, 435).getBrightness(), 0.1f);
    EXPECT_GT (image.getPixelAt (470 + 50 + 36, 435).getBrightness(), background.getBrightness());
    EXPECT_EQ (juce::Rectangle<int> (470, 385, 100, 100), inkBounds (image, onPanel ({ 450, 385, 140, 130 }), background)
                                                              .getUnion ({ 470, 385, 100, 100 }));

    // Bump 2 gets an amplitude: "Move" appears; bump 1's width knob stays off while amplitude 1 is 0.
    setParameter (processor, "amplitude2", 0.2f);
    image = snapshot (*editor);
    EXPECT_EQ (movePlace, knob ("velocity").getBounds());
    EXPECT_EQ (hidden, knob ("wavelength1").getBounds());
    EXPECT_EQ (hidden, knob ("wavelength2").getBounds());
    EXPECT_LT (image.getPixelAt (320 - 36, 435).getBrightness(), 0.1f);
    expectEmpty (image, widthPlace);

    // Bump 1 too: its width knob (the one shown by default) appears in the shared place.
    setParameter (processor, "amplitude1", -0.1f);
    image = snapshot (*editor);
    EXPECT_EQ (widthPlace, knob ("wavelength1").getBounds());
    EXPECT_EQ (hidden, knob ("wavelength2").getBounds());
    EXPECT_EQ (hidden, knob ("wavelength3").getBounds());
    EXPECT_FALSE (inkBounds (image, onPanel (widthPlace), background).isEmpty());

    // Back to 0: everything but "Distort" and "Dry/Wet" goes away again.
    setParameter (processor, "amplitude1", 0.0f);
    setParameter (processor, "amplitude2", 0.0f);
    image = snapshot (*editor);
    EXPECT_EQ (hidden, knob ("velocity").getBounds());
    EXPECT_EQ (hidden, knob ("wavelength1").getBounds());
    expectEmpty (image, movePlace);
    expectEmpty (image, widthPlace);
}

TEST_F (EditorTest, CaptionsAreDrawnCentredAcrossTheirKnobs)
{
    const auto background = panelColour (1);   // the captions lie on the display panel
    const juce::Font captionFont = juce::Font (kestrine::makeEmbeddedTypeface()).withHeight (15.0f);

    struct Caption { const char* text; int x; };
    const std::array<Caption, 4> captions { { { "Width 1", 120 }, { "Move", 270 }, { "Distort", 470 }, { "Dry/Wet", 620 } } };

    auto checkCaption = [&] (const juce::Image& image, const Caption& caption)
    {
        SCOPED_TRACE (caption.text);
        const auto ink = inkBounds (image, { caption.x - 20, 400, 140, 60 }, background);
        ASSERT_FALSE (ink.isEmpty());
        EXPECT_TRUE (juce::Rectangle<int> (caption.x, 420, 100, 30).contains (ink)) << ink.toString();
        EXPECT_NEAR (caption.x + 50, ink.getCentreX(), 2);
        EXPECT_NEAR (435, ink.getCentreY(), 4);
        EXPECT_NEAR (captionFont.getStringWidthFloat (caption.text), static_cast<float> (ink.getWidth()), 4.0f);
        EXPECT_LT (image.getPixelAt (ink.getX(), ink.getY()).getBrightness(), 1.0f);   // drawn in black
        int darkest = 255;
        for (int x = ink.getX(); x < ink.getRight(); ++x)
            darkest = std::min (darkest, (int) image.getPixelAt (x, ink.getCentreY()).getRed());
        EXPECT_LT (darkest, 30);
    };

    // Default amplitudes: no "Move" and no width caption.
    auto image = paintOnly (*editor);
    EXPECT_TRUE (inkBounds (image, { 100, 400, 290, 60 }, background).isEmpty());
    checkCaption (image, captions[2]);
    checkCaption (image, captions[3]);

    setParameter (processor, "amplitude1", 0.3f);
    image = paintOnly (*editor);

    for (const auto& caption : captions)
        checkCaption (image, caption);
}

//==============================================================================
TEST_F (EditorTest, MovingAnyKnobRewritesAllTwelveMirrorsAndRecentresTheBumps)
{
    // The curve builders' timer would recentre the bumps on its own; stop it so that only the
    // editor's call can do it.
    processor.juce::HighResolutionTimer::stopTimer();

    struct Move { const char* id; double value; };
    constexpr std::array<Move, 6> moves { {
        { "wavelength1", 30.0 }, { "wavelength2", 70.0 }, { "wavelength3", 12.0 },
        { "velocity", 0.4 }, { "distortion", -0.6 }, { "drywet", 0.25 }
    } };

    auto parameter = [this] (const char* id) { return processor.parameters.getRawParameterValue (id)->load(); };
    constexpr float stale = 123.0f;

    for (const auto& move : moves)
    {
        SCOPED_TRACE (move.id);

        for (auto& bump : processor.bumps)
            bump.amplitude = bump.position = bump.width = stale;

        processor.driftSpeed = 1.0f;
        processor.distortion.target = stale;
        processor.dryWet.target = stale;

        // Let the bumps drift away from their positions first.
        for (int i = 0; i < 40; ++i)
            processor.allBumps();

        ASSERT_NE ((std::array<int, 3> { 123, 123, 123 }), processor.currentBumpCentres());

        knob (move.id).setValue (move.value, juce::sendNotificationSync);
        EXPECT_NEAR (move.value, parameter (move.id), 1.0e-6);

        for (size_t k = 0; k < 3; ++k)
        {
            const auto index = std::to_string (k + 1);
            EXPECT_EQ (parameter (("amplitude" + index).c_str()), processor.bumps[k].amplitude.load());
            EXPECT_EQ (parameter (("frequency" + index).c_str()), processor.bumps[k].position.load());
            EXPECT_EQ (parameter (("wavelength" + index).c_str()), processor.bumps[k].width.load());
        }

        EXPECT_EQ (parameter ("velocity"), processor.driftSpeed.load());
        EXPECT_EQ (parameter ("distortion"), processor.distortion.target.load());
        EXPECT_EQ (parameter ("drywet"), processor.dryWet.target.load());

        // The centres are back at the positions, plus the one drift step that follows a build.
        const auto centres = processor.currentBumpCentres();
        const std::array<int, 3> positions { 200, 400, 600 };
        for (size_t k = 0; k < 3; ++k)
            EXPECT_EQ (centres[k], kestrine::driftedCentre (positions[k], parameter ("velocity"))) << k;
    }
}

// Host automation reaches the sliders only through the attachments' asynchronous update. A knob
// turn or a handle write before the sliders catch up must not hand the engine their older
// values, and once they have caught up every mirror holds its parameter's value.
TEST_F (EditorTest, EditsBeforeTheSlidersCatchUpKeepTheAutomatedValues)
{
    struct Automation { const char* id; float value; };
    constexpr std::array<Automation, 6> automated { {
        { "frequency2", 480.0f }, { "amplitude2", 0.3f }, { "amplitude3", -0.2f },
        { "wavelength3", 70.0f }, { "distortion", 0.5f }, { "backColor", 4.0f }
    } };

    for (const auto& [id, value] : automated)
        kestrine::test::automateFromAnotherThread (processor, id, value);

    // Nothing has reached the sliders yet.
    ASSERT_DOUBLE_EQ (child<juce::Slider> (*editor, "wavelength3").getValue(), 50.0);

    knob ("drywet").setValue (0.4, juce::sendNotificationSync);
    EXPECT_EQ (kestrine::test::mirrorMismatches (processor), "") << "after the knob turn";

    // Handle 1 writes its values (as after a push or a click) in the next repaint.
    child<DotComponent> (*editor, "handle1").moved = true;
    paintOnly (*editor);
    EXPECT_EQ (kestrine::test::mirrorMismatches (processor), "") << "after the handle write";

    ASSERT_TRUE (kestrine::test::runMessageLoopUntil ([this] { return child<juce::ComboBox> (*editor, "backColor").getSelectedId() == 5; }));
    paintOnly (*editor);
    EXPECT_DOUBLE_EQ (child<juce::Slider> (*editor, "wavelength3").getValue(), 70.0);
    EXPECT_EQ (kestrine::test::mirrorMismatches (processor), "") << "after the sliders caught up";
    EXPECT_FLOAT_EQ (processor.parameters.getRawParameterValue ("drywet")->load(), 0.4f);

    // Only hidden sliders automated: when they catch up, no knob callback follows them.
    kestrine::test::automateFromAnotherThread (processor, "frequency2", 300.0f);
    kestrine::test::automateFromAnotherThread (processor, "amplitude3", 0.1f);
    knob ("velocity").setValue (0.3, juce::sendNotificationSync);
    const int handle3Top = child<DotComponent> (*editor, "handle3").getY();
    ASSERT_TRUE (kestrine::test::runMessageLoopUntil ([&]
    {
        return child<DotComponent> (*editor, "handle2").getX() == 14 + 300
               && child<DotComponent> (*editor, "handle3").getY() != handle3Top;
    }));
    paintOnly (*editor);
    EXPECT_EQ (kestrine::test::mirrorMismatches (processor), "") << "after the hidden sliders caught up";
}

TEST (EditorToggle, NormalizedSwitchesTheViewAndStartsUnticked)
{
    CompressorAudioProcessor processor;
    processor.normalisedViewSelected = true;
    Editor editor (processor);
    auto& toggle = child<juce::ToggleButton> (editor, "normalized");

    EXPECT_FALSE (toggle.getToggleState());

    toggle.triggerClick();
    ASSERT_TRUE (kestrine::test::runMessageLoopUntil ([&] { return toggle.getToggleState(); }));
    EXPECT_FALSE (processor.normalisedViewSelected.load());

    toggle.triggerClick();
    ASSERT_TRUE (kestrine::test::runMessageLoopUntil ([&] { return ! toggle.getToggleState(); }));
    EXPECT_TRUE (processor.normalisedViewSelected.load());
}

TEST_F (EditorTest, TimerTakesTheProcessedBlockFlag)
{
    processor.blockProcessed = true;
    EXPECT_TRUE (kestrine::test::runMessageLoopUntil ([this] { return ! processor.blockProcessed.load(); }));
}

//==============================================================================
TEST (LookAndFeel, RotaryKnobGeometryAtMinimumMaximumAndDisabled)
{
    OtherLookAndFeel lookAndFeel;
    juce::Slider slider (juce::Slider::RotaryVerticalDrag, juce::Slider::NoTextBox);
    slider.setLookAndFeel (&lookAndFeel);
    slider.setRange (0.0, 1.0);
    slider.setBounds (0, 0, 100, 100);

    const juce::Colour azure (0xFFF0FFFF);
    const juce::Point<float> centre (50.0f, 50.0f);

    // A point at radius r in the framework's rotary angles (0 up, clockwise).
    auto at = [&] (float radius, float angle) { return centre.getPointOnCircumference (radius, angle); };
    auto pixel = [] (const juce::Image& image, juce::Point<float> p)
    {
        return image.getPixelAt (static_cast<int> (std::floor (p.x)), static_cast<int> (std::floor (p.y)));
    };

    struct Case { double value; bool enabled; float thumbAngle; bool arcAtTop; };
    const std::array<Case, 3> cases { {
        { 0.0, true,  1.2f * pi, false },   // 216 degrees clockwise from the top: lower left
        { 1.0, true,  2.8f * pi, true },    // 144 degrees: lower right, the arc covers the whole track
        { 1.0, false, 2.8f * pi, false }    // disabled: track, thumb and pointer, no value arc
    } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.value) + (c.enabled ? " enabled" : " disabled"));
        slider.setEnabled (c.enabled);
        slider.setValue (c.value, juce::dontSendNotification);
        const auto image = snapshot (slider);

        // Thumb: diameter 14.4 centred on the arc radius 36, in azure.
        EXPECT_LE (channelDistance (azure, pixel (image, at (36.0f, c.thumbAngle))), 2);
        EXPECT_LE (channelDistance (azure, pixel (image, at (36.0f + 6.0f, c.thumbAngle))), 2);

        // Pointer: base on the track's outer edge (40), tip 5.76 further out.
        EXPECT_GT (pixel (image, at (44.3f, c.thumbAngle)).getAlpha(), 40);
        EXPECT_EQ (0, pixel (image, at (47.5f, c.thumbAngle)).getAlpha());
        EXPECT_EQ (0, pixel (image, at (44.3f, c.thumbAngle + 0.25f)).getAlpha());

        // The ring spans radius 32 to 40 (line width 8 around 36), with the gap at the bottom.
        const auto left = at (38.5f, 1.5f * pi);
        EXPECT_GT (pixel (image, left).getAlpha(), 40);
        EXPECT_EQ (0, pixel (image, at (30.5f, 1.5f * pi)).getAlpha());
        EXPECT_EQ (0, pixel (image, at (41.5f, 1.5f * pi)).getAlpha());
        EXPECT_EQ (0, pixel (image, at (36.0f, pi)).getAlpha());

        // At the top: the black value arc, or the faint white track (alpha 0.2).
        const auto top = pixel (image, at (36.0f, 2.0f * pi));
        if (c.arcAtTop)
        {
            EXPECT_EQ (255, top.getAlpha());
            EXPECT_LT (top.getBrightness(), 0.05f);
        }
        else
        {
            EXPECT_NEAR (51, top.getAlpha(), 3);
            EXPECT_GT (top.getBrightness(), 0.95f);
        }
    }

    slider.setLookAndFeel (nullptr);
}

TEST_F (EditorTest, ComboBoxShowsOnlyItsTextAndAChevron)
{
    snapshot (*editor);   // the layout pass gives the box its place, size and look and feel
    auto& box = child<juce::ComboBox> (*editor, "backColor");
    ASSERT_EQ (juce::Rectangle<int> (20, 30, 200, 30), box.getBounds());

    const juce::Rectangle<int> chevronZone (168, 8, 24, 15);
    const std::array<std::pair<juce::Point<float>, juce::Point<float>>, 2> strokes { {
        { { 173.0f, 13.0f }, { 180.0f, 18.0f } }, { { 180.0f, 18.0f }, { 187.0f, 13.0f } }
    } };

    auto image = snapshot (box);

    for (const auto& [from, to] : strokes)
        for (float t : { 0.2f, 0.5f, 0.8f })
        {
            const auto p = from + (to - from) * t;
            const auto colour = image.getPixelAt (static_cast<int> (p.x), static_cast<int> (p.y));
            EXPECT_GT (colour.getAlpha(), 100) << p.toString();
            EXPECT_GT (colour.getBrightness(), 0.95f) << p.toString();
        }

    // Open inside the V and beyond its ends; no body anywhere outside the text and the chevron.
    for (const auto& p : { juce::Point<int> (180, 13), juce::Point<int> (173, 18), juce::Point<int> (187, 18),
                           juce::Point<int> (169, 11), juce::Point<int> (191, 11), juce::Point<int> (2, 2),
                           juce::Point<int> (197, 27) })
        EXPECT_EQ (0, image.getPixelAt (p.x, p.y).getAlpha()) << p.toString();

    EXPECT_NEAR (230, maximumAlpha (image, chevronZone), 3);                  // arrow colour at alpha 0.9
    EXPECT_GT (maximumAlpha (image, { 40, 5, 100, 20 }), 100);                 // the selected item's text

    box.setEnabled (false);
    image = snapshot (box);
    EXPECT_NEAR (51, maximumAlpha (image, chevronZone), 3);                   // alpha 0.2 while disabled
}

TEST_F (EditorTest, WebButtonHasNoBodyAndBrightensUnderTheMouse)
{
    snapshot (*editor);
    auto& button = child<juce::TextButton> (*editor, "web");
    ASSERT_EQ (juce::Rectangle<int> (-10, 490, 200, 30), button.getBounds());

    auto image = snapshot (button);
    EXPECT_EQ (0, image.getPixelAt (1, 1).getAlpha());
    EXPECT_EQ (0, image.getPixelAt (198, 28).getAlpha());
    EXPECT_NEAR (76, maximumAlpha (image, button.getLocalBounds()), 2);

    button.setState (juce::Button::buttonOver);
    image = snapshot (button);
    EXPECT_EQ (0, image.getPixelAt (1, 1).getAlpha());
    EXPECT_NEAR (128, maximumAlpha (image, button.getLocalBounds()), 2);
}

//==============================================================================
// The host opens and closes the window again and again while its audio thread keeps calling
// processBlock. Run under AddressSanitizer this shows that nothing leaks or is used after free.
TEST (EditorLifetime, OpensAndClosesRepeatedlyWhileAudioRuns)
{
    CompressorAudioProcessor processor;
    processor.prepareToPlay (48000.0, 256);

    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 };

    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, 256);
        juce::MidiBuffer midi;
        float phase = 0.0f;

        while (! stop)
        {
            for (int i = 0; i < buffer.getNumSamples(); ++i, phase += 0.05f)
                for (int channel = 0; channel < 2; ++channel)
                    buffer.setSample (channel, i, 0.7f * std::sin (phase));

            processor.processBlock (buffer, midi);
            ++blocks;
            std::this_thread::sleep_for (1ms);
        }
    });

    for (int round = 0; round < 30; ++round)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditorIfNeeded());
        ASSERT_NE (editor, nullptr);
        EXPECT_EQ (editor.get(), processor.getActiveEditor());

        snapshot (*editor);
        kestrine::test::runMessageLoopFor (20ms);
        child<juce::Slider> (*editor, "distortion").setValue (round % 2 == 0 ? 0.5 : -0.5, juce::sendNotificationSync);
        setParameter (processor, "amplitude3", round % 3 == 0 ? 0.0f : 0.25f);
        snapshot (*editor);

        editor.reset();
        EXPECT_EQ (nullptr, processor.getActiveEditor());
    }

    stop = true;
    audio.join();
    EXPECT_GT (blocks.load(), 0);
}

// While the window opens, its sliders are attached one after another. The engine must never
// see the provisional values of the sliders not yet attached (mix 0, width 5, position 0): a
// watcher on another thread compares the mirrors with the parameters all the time.
TEST (EditorLifetime, OpeningTheWindowHandsTheEngineOnlyParameterValues)
{
    CompressorAudioProcessor processor;
    setParameter (processor, "drywet", 0.8f);
    setParameter (processor, "distortion", 0.3f);
    setParameter (processor, "wavelength3", 40.0f);
    setParameter (processor, "frequency3", 650.0f);
    processor.updateParameters (true);

    const float dryWet = processor.dryWet.target, distortion = processor.distortion.target;
    const float width = processor.bumps[2].width, position = processor.bumps[2].position;

    std::atomic<bool> stop { false };
    std::atomic<int> deviations { 0 };

    std::thread watcher ([&]
    {
        auto differs = [] (float a, float b) { return std::abs (a - b) > 1.0e-3f; };

        while (! stop)
            if (differs (dryWet, processor.dryWet.target) || differs (distortion, processor.distortion.target)
                || differs (width, processor.bumps[2].width) || differs (position, processor.bumps[2].position))
                ++deviations;
    });

    for (int round = 0; round < 50; ++round)
        Editor editor (processor);

    stop = true;
    watcher.join();
    EXPECT_EQ (0, deviations.load());
}

//==============================================================================
TEST (EditorSnapshot, WritesTheRenderedWindowAsPng)
{
    CompressorAudioProcessor processor;
    setParameter (processor, "backColor", 3.0f);

    const juce::TemporaryFile temporary (".png");
    const auto file = temporary.getFile();

    // Written twice: the second picture replaces the first rather than being appended to it.
    ASSERT_TRUE (kestrine::writeEditorSnapshot (processor, file));
    const auto firstSize = file.getSize();
    ASSERT_TRUE (kestrine::writeEditorSnapshot (processor, file));
    EXPECT_EQ (firstSize, file.getSize());

    const auto image = juce::ImageFileFormat::loadFrom (file);
    ASSERT_TRUE (image.isValid());
    EXPECT_EQ (840, image.getWidth());
    EXPECT_EQ (520, image.getHeight());
    EXPECT_EQ (themeBackground (4), image.getPixelAt (5, 70));
    EXPECT_LT (image.getPixelAt (470 + 50 - 36, 435).getBrightness(), 0.1f);   // the distortion knob

    EXPECT_FALSE (kestrine::writeEditorSnapshot (processor, juce::File ("/proc/kestrine-no-such-dir/editor.png")));
}
