#include "DotComponent.h"
#include "EditorSnapshot.h"
#include "PluginEditor.h"
#include "PluginProcessor.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

// The editor's painting and its handles, window-less: paint is called into images and mouse
// events are handed straight to the handles.
namespace
{
    using Editor = CompressorAudioProcessorEditor;

    constexpr int panelX = 20, panelY = 80, panelH = 400, baseline = 280;

    int channelDistance (juce::Colour a, juce::Colour b)
    {
        return std::max ({ std::abs (a.getAlpha() - b.getAlpha()), std::abs (a.getRed() - b.getRed()),
                           std::abs (a.getGreen() - b.getGreen()), std::abs (a.getBlue() - b.getBlue()) });
    }

    /** Colour c drawn over an opaque background. */
    juce::Colour over (juce::Colour background, juce::uint32 argb)
    {
        return background.overlaidWith (juce::Colour (argb));
    }

    juce::Rectangle<int> inkBounds (const juce::Image& image, juce::Rectangle<int> area, juce::Colour background)
    {
        juce::Rectangle<int> ink;
        bool any = false;

        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                if (channelDistance (image.getPixelAt (x, y), background) > 8)
                {
                    const juce::Rectangle<int> pixel (x, y, 1, 1);
                    ink = any ? ink.getUnion (pixel) : pixel;
                    any = true;
                }

        return ink;
    }

    /** The rows of one column whose pixel differs from the given colour. */
    juce::Range<int> inkedRows (const juce::Image& image, int x, juce::Range<int> rows, juce::Colour background)
    {
        const auto bounds = inkBounds (image, { x, rows.getStart(), 1, rows.getLength() }, background);
        return { bounds.getY(), bounds.getBottom() };
    }

    void setParameter (CompressorAudioProcessor& processor, const char* id, float value)
    {
        auto* parameter = processor.parameters.getParameter (id);
        ASSERT_NE (parameter, nullptr) << id;
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
    }

    float parameterValue (CompressorAudioProcessor& processor, const char* id)
    {
        return processor.parameters.getRawParameterValue (id)->load();
    }

    juce::MouseEvent mouseEventAt (DotComponent& dot, juce::Point<float> down, juce::Point<float> position)
    {
        const auto now = juce::Time::getCurrentTime();
        return { juce::Desktop::getInstance().getMainMouseSource(), position, {},
                 juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f,
                 &dot, &dot, now, down, now, 1, position != down };
    }

    class DisplayPaintTest  : public ::testing::Test
    {
    protected:
        void SetUp() override    { editor = std::make_unique<Editor> (processor); }

        /** Gives the editor a pair of views to draw, as if made from a capture. */
        void publishViews (float normalised, float sample)
        {
            auto& views = processor.displayedViews;
            views.normalisedView.fill (normalised);
            views.sampleView.fill (sample);
        }

        /** The editor's own paint, without its children. */
        juce::Image paintOnly()
        {
            juce::Image image (juce::Image::ARGB, editor->getWidth(), editor->getHeight(), true);
            juce::Graphics g (image);
            editor->paint (g);
            return image;
        }

        DotComponent& handle (int number)
        {
            if (auto* found = dynamic_cast<DotComponent*> (editor->findChildWithID ("handle" + juce::String (number))))
                return *found;

            throw std::runtime_error ("no handle " + std::to_string (number));
        }

        /** A click (or a drag by offset) on a handle, each event followed by a repaint, as
            while audio flows. */
        void gesture (int number, juce::Point<float> offset = {})
        {
            audioFlows();
            auto& dot = handle (number);
            const juce::Point<float> down { 7.0f, 7.0f };
            dot.mouseDown (mouseEventAt (dot, down, down));
            paintOnly();

            if (! offset.isOrigin())
            {
                dot.mouseDrag (mouseEventAt (dot, down, down + offset));
                paintOnly();
            }

            dot.mouseUp (mouseEventAt (dot, down, down + offset));
            paintOnly();
            kestrine::test::runMessageLoopFor (50ms);   // the attachments take the slider values
        }

        /** Lets the editor's timer see a processed block, so that the handles take the mouse. */
        void audioFlows()
        {
            processor.blockProcessed = true;
            ASSERT_TRUE (kestrine::test::runMessageLoopUntil ([this] { return ! processor.blockProcessed.load(); }));
            paintOnly();
        }

        CompressorAudioProcessor processor;
        std::unique_ptr<Editor> editor;
    };

    const juce::Colour steelBlue { 0xFF4682B4u };
}

//==============================================================================
TEST_F (DisplayPaintTest, BackgroundTitleAndPanelAtTheirPlaces)
{
    publishViews (0.0f, 0.0f);
    const auto image = paintOnly();
    const auto panel = over (steelBlue, 0x66F5F5F5u);

    for (const auto& point : { juce::Point<int> (0, 0), { 839, 519 }, { 19, 200 }, { 820, 200 }, { 400, 79 }, { 400, 480 } })
        EXPECT_LE (channelDistance (image.getPixelAt (point.x, point.y), steelBlue), 1) << point.toString();

    for (const auto& point : { juce::Point<int> (20, 80), { 819, 80 }, { 20, 479 }, { 819, 479 }, { 400, 230 } })
        EXPECT_LE (channelDistance (image.getPixelAt (point.x, point.y), panel), 2) << point.toString();

    // The title lies inside its box (0, 30, 840, 30), centred across the window.
    const auto title = inkBounds (image, { 0, 0, 840, 80 }, steelBlue);
    ASSERT_FALSE (title.isEmpty());
    EXPECT_GE (title.getY(), 30);
    EXPECT_LE (title.getBottom(), 60);
    EXPECT_NEAR (title.getCentreX(), 420, 3);
    EXPECT_NEAR (title.getCentreY(), 45, 3);
    EXPECT_GT (title.getWidth(), 100);
}

TEST_F (DisplayPaintTest, GridLinesLieAtTheQuarters)
{
    publishViews (0.0f, 0.0f);
    const auto image = paintOnly();
    const auto panel = over (steelBlue, 0x66F5F5F5u);

    // A 0.5 px line on a whole-pixel y touches the rows just above and below it.
    for (const int y : { 180, 380 })
    {
        EXPECT_EQ (inkedRows (image, 400, { y - 10, y + 10 }, panel), juce::Range<int> (y - 1, y + 1)) << y;
        EXPECT_EQ (inkedRows (image, 20, { y - 10, y + 10 }, panel), juce::Range<int> (y - 1, y + 1)) << y;
        EXPECT_LE (channelDistance (image.getPixelAt (19, y), steelBlue), 1) << "the lines stop at the panel";
        EXPECT_LE (channelDistance (image.getPixelAt (820, y), steelBlue), 1);
    }
}

TEST_F (DisplayPaintTest, ViewValuesAreDrawnTruncatedAndHeldInsideThePanel)
{
    // Amplitudes 0: the curve lies on the baseline. The rows a trace covers are those that
    // differ from a picture with the trace on the baseline.
    publishViews (0.0f, 0.0f);
    const auto flat = paintOnly();
    const auto rowsAt = [&] (float value, juce::Range<int> rows)
    {
        publishViews (0.0f, value);
        const auto image = paintOnly();
        juce::Range<int> found;

        for (int y = rows.getStart(); y < rows.getEnd(); ++y)
            if (channelDistance (image.getPixelAt (400, y), flat.getPixelAt (400, y)) > 8)
                found = found.isEmpty() ? juce::Range<int> (y, y + 1) : found.getUnionWith (y);

        return found;
    };

    // Thickness 3 around the height: 1.5 and -1.5 at the panel's top and bottom edges. The
    // searched rows leave out the grid lines.
    // A 3 px line centred on row boundary y covers rows y - 2 to y (and a trace of row y + 1).
    const auto expectAround = [] (juce::Range<int> rows, int y)
    {
        EXPECT_EQ (rows.getStart(), y - 2) << y;
        EXPECT_GE (rows.getEnd(), y + 1) << y;
        EXPECT_LE (rows.getEnd(), y + 2) << y;
    };

    const auto top = rowsAt (1.5f, { 40, 260 });
    expectAround (top, panelY);
    EXPECT_EQ (rowsAt (1.0f, { 40, 260 }), top);
    expectAround (rowsAt (-1.5f, { 300, 520 }), panelY + panelH);
    expectAround (rowsAt (0.25f, { 40, 260 }), baseline - 50);

    // 0.004 is 0.8 px, truncated to the baseline: the same picture as 0.
    publishViews (0.0f, 0.0f);
    const auto zero = paintOnly();
    publishViews (0.0f, 0.004f);
    const auto small = paintOnly();
    publishViews (0.0f, 0.01f);
    const auto twoPixels = paintOnly();

    int differences = 0, twoPixelDifferences = 0;

    for (int y = 260; y < 300; ++y)
        for (int x = 0; x < 840; ++x)
        {
            differences += zero.getPixelAt (x, y) != small.getPixelAt (x, y) ? 1 : 0;
            twoPixelDifferences += zero.getPixelAt (x, y) != twoPixels.getPixelAt (x, y) ? 1 : 0;
        }

    EXPECT_EQ (differences, 0);
    EXPECT_GT (twoPixelDifferences, 800);
}

TEST_F (DisplayPaintTest, TheToggleChoosesTheView)
{
    const auto panel = over (steelBlue, 0x66F5F5F5u);
    publishViews (0.25f, -0.25f);
    const juce::Range<int> above { 190, 270 }, below { 290, 370 };

    processor.normalisedViewSelected = false;
    auto image = paintOnly();
    EXPECT_EQ (inkedRows (image, 400, below, panel), juce::Range<int> (328, 332)) << "sample view";
    EXPECT_TRUE (inkedRows (image, 400, above, panel).isEmpty());

    processor.normalisedViewSelected = true;
    image = paintOnly();
    EXPECT_EQ (inkedRows (image, 400, above, panel), juce::Range<int> (228, 232)) << "normalised view";
    EXPECT_TRUE (inkedRows (image, 400, below, panel).isEmpty());
}

TEST_F (DisplayPaintTest, TheCurveFollowsTheBumpSettingsAndTheirPlacement)
{
    publishViews (0.0f, 0.0f);
    // A bump at position 0 is moved right to centre on point 50; one at 790 left to 750.
    setParameter (processor, "amplitude1", 0.5f);
    setParameter (processor, "frequency1", 0.0f);
    setParameter (processor, "wavelength1", 50.0f);
    setParameter (processor, "amplitude3", -0.5f);
    setParameter (processor, "frequency3", 790.0f);
    setParameter (processor, "wavelength3", 50.0f);

    const auto image = paintOnly();
    const auto brightestRow = [&image] (int x)
    {
        int row = 0;

        for (int y = panelY; y < panelY + panelH; ++y)
            if (image.getPixelAt (x, y).getBrightness() > image.getPixelAt (x, row).getBrightness())
                row = y;

        return row;
    };

    // 0.5 x 200 = 100 px from the baseline. Each segment starts at the previous point's
    // whole-pixel height: the peak's segment rises from 99 to 100 px, so its middle lies on
    // row 180; the trough's falls from 99 to 100 px below, its middle on row 379.
    EXPECT_EQ (brightestRow (panelX + 50), baseline - 100);
    EXPECT_EQ (brightestRow (panelX + 750), baseline + 99);
    // Flat parts cover rows 279 and 280 alike.
    const auto onBaseline = [&] (int x) { return std::abs (brightestRow (x) - baseline + 0.5) < 1.0; };
    EXPECT_TRUE (onBaseline (panelX + 400)) << "no bump here";
    EXPECT_TRUE (onBaseline (panelX)) << "point 0 is not covered by the moved bump";
    EXPECT_LT (brightestRow (panelX + 10), baseline - 1);
    EXPECT_TRUE (onBaseline (panelX + 100));
    EXPECT_TRUE (onBaseline (panelX + 699));
    EXPECT_GT (brightestRow (panelX + 710), baseline + 1);
}

TEST_F (DisplayPaintTest, ThemeFourChangesOnlyBackgroundAndGrid)
{
    publishViews (0.0f, 1.5f);
    setParameter (processor, "backColor", 3.0f);   // "Staccato", item 4
    kestrine::test::runMessageLoopFor (20ms);
    ASSERT_EQ (processor.backgroundIndex.load(), 4);

    const juce::Colour goldenrod { 0xFFDAA520u };
    const auto image = paintOnly();
    const auto panel = over (goldenrod, 0x66F5F5F5u);

    EXPECT_LE (channelDistance (image.getPixelAt (5, 5), goldenrod), 1);
    EXPECT_LE (channelDistance (image.getPixelAt (400, 230), panel), 2);
    EXPECT_LE (channelDistance (image.getPixelAt (400, 80), over (panel, 0xB2000000u)), 2) << "waveform";
    EXPECT_LE (channelDistance (image.getPixelAt (400, 280), over (panel, 0xE6FFFFFFu)), 4) << "curve";

    // The grid rows lie between the panel and goldenrod in every channel.
    const auto grid = image.getPixelAt (400, 180);
    EXPECT_GT (channelDistance (grid, panel), 3);

    for (const auto channel : { &juce::Colour::getRed, &juce::Colour::getGreen, &juce::Colour::getBlue })
    {
        const int g = (grid.*channel)(), p = (panel.*channel)(), t = (goldenrod.*channel)();
        EXPECT_GE (g, std::min (p, t) - 1);
        EXPECT_LE (g, std::max (p, t) + 1);
    }
}

//==============================================================================
TEST_F (DisplayPaintTest, HandlesSitOnTheirBumps)
{
    setParameter (processor, "amplitude2", 0.25f);
    setParameter (processor, "frequency2", 333.0f);
    kestrine::test::runMessageLoopFor (20ms);
    paintOnly();

    // Left edge 14 + position, top edge 273 - 200 x amplitude.
    EXPECT_EQ (handle (1).getBounds(), juce::Rectangle<int> (214, 273, 14, 14));
    EXPECT_EQ (handle (2).getBounds(), juce::Rectangle<int> (347, 223, 14, 14));
    EXPECT_EQ (handle (3).getBounds(), juce::Rectangle<int> (614, 273, 14, 14));
}

TEST_F (DisplayPaintTest, OpeningTheWindowAndClickingEveryHandleChangesNothing)
{
    paintOnly();

    for (const int number : { 1, 2, 3 })
        gesture (number);

    EXPECT_FLOAT_EQ (parameterValue (processor, "frequency1"), 200.0f);
    EXPECT_FLOAT_EQ (parameterValue (processor, "frequency2"), 400.0f);
    EXPECT_FLOAT_EQ (parameterValue (processor, "frequency3"), 600.0f);

    for (const auto* id : { "amplitude1", "amplitude2", "amplitude3" })
        EXPECT_FLOAT_EQ (parameterValue (processor, id), 0.0f) << id;
}

namespace
{
    struct Setting
    {
        const char* id;
        float value;
    };

    const Setting restored[] = {
        { "amplitude1", 0.2f }, { "frequency1", 150.0f }, { "wavelength1", 30.0f },
        { "amplitude2", -0.3f }, { "frequency2", 420.0f }, { "wavelength2", 40.0f },
        { "amplitude3", 0.1f }, { "frequency3", 640.5f }, { "wavelength3", 50.0f },
    };

    juce::MemoryBlock restoredState()
    {
        CompressorAudioProcessor source;

        for (const auto& [id, value] : restored)
            setParameter (source, id, value);

        juce::MemoryBlock state;
        source.getStateInformation (state);
        return state;
    }
}

TEST_F (DisplayPaintTest, ARestoredStateSurvivesAClickOnEveryHandle)
{
    // The window shows the defaults and the user has moved handle 1 before the state arrives.
    paintOnly();
    gesture (1, { 40.0f, 20.0f });
    ASSERT_FLOAT_EQ (parameterValue (processor, "frequency1"), 240.0f);

    const auto state = restoredState();
    processor.setStateInformation (state.getData(), static_cast<int> (state.getSize()));
    kestrine::test::runMessageLoopFor (20ms);
    paintOnly();

    for (const auto& [id, value] : restored)
        ASSERT_NEAR (parameterValue (processor, id), value, 1.0e-4f) << id;

    // The handles now sit on the restored values ...
    // (The amplitudes are floats a hair below 0.2 and 0.1, so their tops truncate one pixel lower.)
    EXPECT_EQ (handle (1).getPosition(), juce::Point<int> (14 + 150, 273 - 39));
    EXPECT_EQ (handle (2).getPosition(), juce::Point<int> (14 + 420, 273 + 60));
    EXPECT_EQ (handle (3).getPosition(), juce::Point<int> (14 + 640, 273 - 19));

    // ... and write them back unchanged when clicked.
    for (const int number : { 1, 2, 3 })
        gesture (number);

    for (int repaint = 0; repaint < 3; ++repaint)
        paintOnly();

    kestrine::test::runMessageLoopFor (20ms);

    for (const auto& [id, value] : restored)
        EXPECT_NEAR (parameterValue (processor, id), value, 1.0e-4f) << id;

    for (size_t i = 0; i < 3; ++i)
        EXPECT_NEAR (processor.bumps[i].position.load(), restored[i * 3 + 1].value, 1.0e-4f) << "mirrors follow";
}

TEST_F (DisplayPaintTest, AfterARestoreADragStillWritesItsValue)
{
    paintOnly();
    const auto state = restoredState();
    processor.setStateInformation (state.getData(), static_cast<int> (state.getSize()));
    kestrine::test::runMessageLoopFor (20ms);
    paintOnly();

    gesture (2, { 30.0f, -20.0f });
    EXPECT_NEAR (parameterValue (processor, "frequency2"), 450.0f, 1.0e-4f);
    EXPECT_NEAR (parameterValue (processor, "amplitude2"), -0.2f, 1.0e-4f);

    // The handle's own values coming back through the parameters do not reset it: a second
    // drag continues from where the first one ended.
    gesture (2, { 10.0f, 0.0f });
    EXPECT_NEAR (parameterValue (processor, "frequency2"), 460.0f, 1.0e-4f);
    EXPECT_NEAR (parameterValue (processor, "amplitude2"), -0.2f, 1.0e-4f);
    EXPECT_EQ (handle (2).offsetX, 40);
    EXPECT_NEAR (parameterValue (processor, "frequency1"), 150.0f, 1.0e-4f) << "the others keep the restored values";
    EXPECT_NEAR (parameterValue (processor, "frequency3"), 640.5f, 1.0e-4f);
}

TEST_F (DisplayPaintTest, AutomationFromAnotherThreadMovesTheHandle)
{
    paintOnly();
    gesture (3, { -50.0f, 0.0f });
    ASSERT_NEAR (parameterValue (processor, "frequency3"), 550.0f, 1.0e-4f);

    std::thread host ([this] { setParameter (processor, "frequency3", 700.0f); });
    host.join();
    kestrine::test::runMessageLoopFor (20ms);
    paintOnly();

    EXPECT_EQ (handle (3).getX(), 14 + 700);
    gesture (3);
    EXPECT_NEAR (parameterValue (processor, "frequency3"), 700.0f, 1.0e-4f);
}


namespace
{
    /** What the processor tells its host, in order: gesture begins and ends and value changes. */
    struct GestureRecord : juce::AudioProcessorListener
    {
        enum Kind { begin, change, end };
        struct Event { Kind kind; int index; };

        void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int index) override  { events.push_back ({ begin, index }); }
        void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int index) override    { events.push_back ({ end, index }); }
        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float) override      { events.push_back ({ change, index }); }
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

        /** The kinds of event for one parameter, in order: "b", "c" and "e". */
        std::string sequence (int index) const
        {
            std::string kinds;
            for (const auto& e : events)
                if (e.index == index)
                    kinds += e.kind == begin ? 'b' : e.kind == change ? 'c' : 'e';
            return kinds;
        }

        std::vector<Event> events;   // message thread only in these tests
    };
}

// A handle drag, mouse-down to mouse-up, is one gesture of each of the two parameters it
// changes, and every value it writes lies inside that gesture, including the last one, which
// the mouse-up hands on before the repaint that would write it.
TEST_F (DisplayPaintTest, AHandleDragIsOneGestureOfItsPositionAndAmplitude)
{
    paintOnly();
    audioFlows();
    GestureRecord host;
    processor.addListener (&host);

    auto& dot = handle (2);
    const juce::Point<float> down { 7.0f, 7.0f };
    dot.mouseDown (mouseEventAt (dot, down, down));

    for (const auto& step : { juce::Point<float> (10.0f, -5.0f), { 20.0f, -10.0f }, { 30.0f, -20.0f } })
    {
        dot.mouseDrag (mouseEventAt (dot, down, down + step));
        paintOnly();
        kestrine::test::runMessageLoopFor (10ms);
    }

    dot.mouseDrag (mouseEventAt (dot, down, down + juce::Point<float> (35.0f, -20.0f)));
    dot.mouseUp (mouseEventAt (dot, down, down + juce::Point<float> (40.0f, -26.0f)));
    const auto atMouseUp = host.events.size();
    paintOnly();
    kestrine::test::runMessageLoopFor (50ms);
    paintOnly();
    processor.removeListener (&host);

    EXPECT_NEAR (parameterValue (processor, "frequency2"), 440.0f, 1.0e-4f);
    EXPECT_NEAR (parameterValue (processor, "amplitude2"), 0.13f, 1.0e-4f);
    EXPECT_EQ (atMouseUp, host.events.size()) << "nothing reaches the host after the gesture";

    for (const auto* id : { "frequency2", "amplitude2" })
    {
        const auto kinds = host.sequence (processor.parameters.getParameter (id)->getParameterIndex());
        EXPECT_GE (kinds.size(), 3u) << id;
        EXPECT_EQ (kinds.front(), 'b') << id << " " << kinds;
        EXPECT_EQ (kinds.back(), 'e') << id << " " << kinds;
        EXPECT_EQ (kinds.substr (1, kinds.size() - 2).find_first_not_of ('c'), std::string::npos) << id << " " << kinds;
    }

    for (const auto& e : host.events)
        EXPECT_TRUE (e.index == processor.parameters.getParameter ("frequency2")->getParameterIndex()
                     || e.index == processor.parameters.getParameter ("amplitude2")->getParameterIndex()) << e.index;
}

// A press the handle ignores (no audio for a while) starts no gesture; a window closed during a
// drag still ends the one it started.
TEST_F (DisplayPaintTest, OnlyADragStartsAGestureAndClosingTheWindowEndsIt)
{
    paintOnly();
    GestureRecord host;
    processor.addListener (&host);

    auto& dot = handle (1);
    const juce::Point<float> down { 7.0f, 7.0f };
    dot.draggable = false;
    dot.mouseDown (mouseEventAt (dot, down, down));
    dot.mouseUp (mouseEventAt (dot, down, down));
    EXPECT_TRUE (host.events.empty());

    audioFlows();
    auto& third = handle (3);
    third.mouseDown (mouseEventAt (third, down, down));
    third.mouseDrag (mouseEventAt (third, down, down + juce::Point<float> (-20.0f, 0.0f)));
    editor.reset();
    processor.removeListener (&host);

    for (const auto* id : { "frequency3", "amplitude3" })
    {
        const auto kinds = host.sequence (processor.parameters.getParameter (id)->getParameterIndex());
        EXPECT_EQ (kinds.front(), 'b') << id << " " << kinds;
        EXPECT_EQ (kinds.back(), 'e') << id << " " << kinds;
    }

    EXPECT_NEAR (parameterValue (processor, "frequency3"), 580.0f, 1.0e-4f);
}

//==============================================================================
namespace
{
    /** The window with its children, painted into an image as the host's window would be. */
    juce::Image paintWindow (Editor& editor, bool keptFrames)
    {
        editor.setFrameCaching (keptFrames);
        juce::Image image (juce::Image::ARGB, editor.getWidth(), editor.getHeight(), true);
        juce::Graphics g (image);
        editor.paintEntireComponent (g, true);
        return image;
    }

    /** The first pixel where two images differ, or nothing. */
    std::optional<juce::Point<int>> firstDifference (const juce::Image& a, const juce::Image& b)
    {
        const juce::Image::BitmapData left (a, juce::Image::BitmapData::readOnly);
        const juce::Image::BitmapData right (b, juce::Image::BitmapData::readOnly);

        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
                if (left.getPixelColour (x, y) != right.getPixelColour (x, y))
                    return juce::Point<int> (x, y);

        return std::nullopt;
    }
}

TEST_F (DisplayPaintTest, KeptFramesAndTicksGiveThePixelsOfAPlainFullRepaint)
{
    // The framework's splash fades out on a timer of its own; frames are compared without it.
    for (auto* child : editor->getChildren())
        if (auto* splash = dynamic_cast<juce::JUCESplashScreen*> (child))
        {
            delete splash;
            break;
        }

    setParameter (processor, "amplitude1", 0.3f);
    setParameter (processor, "amplitude3", -0.25f);
    setParameter (processor, "wavelength3", 80.0f);

    // Audio whose views reach beyond the panel at times, so that traces run along its edges.
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    double phase = 0.0;
    const auto playBlocks = [&] (int blocks)
    {
        for (int b = 0; b < blocks; ++b)
        {
            for (int i = 0; i < buffer.getNumSamples(); ++i, phase += 0.021)
                for (int channel = 0; channel < 2; ++channel)
                    buffer.setSample (channel, i, static_cast<float> (0.9 * std::sin (phase) + 0.5 * std::sin (3.7 * phase)));

            processor.processBlock (buffer, midi);
        }
    };

    struct State { float theme; bool normalised; int handle; float distortion; };
    const State states[] = { { 0.0f, false, 1, 0.4f }, { 3.0f, true, 2, -0.7f }, { 5.0f, false, 3, -0.7f }, { 1.0f, true, 1, 0.1f } };

    for (const auto& state : states)
    {
        SCOPED_TRACE (testing::Message() << "theme " << state.theme << ", normalised " << state.normalised
                                         << ", handle " << state.handle);
        setParameter (processor, "backColor", state.theme);
        setParameter (processor, "distortion", state.distortion);
        processor.normalisedViewSelected = state.normalised;
        gesture (state.handle);
        playBlocks (20);

        // Let the handle pass settle the handles and the knobs, then compare whole frames, the
        // second kept one drawn from what the first one kept.
        for (int settle = 0; settle < 3; ++settle)
            paintWindow (*editor, true);

        auto kept = paintWindow (*editor, true);
        kept = paintWindow (*editor, true);
        const auto plain = paintWindow (*editor, false);
        const auto difference = firstDifference (kept, plain);
        EXPECT_FALSE (difference.has_value()) << "full frame differs at " << difference->toString();

        // A tick after more audio: only the area the timer repaints is drawn over the last frame.
        playBlocks (3);
        editor->setFrameCaching (true);
        editor->timerCallback();
        {
            juce::Graphics g (kept);
            g.reduceClipRegion (editor->displayArea());
            editor->paintEntireComponent (g, true);
        }

        const auto plainAfterTick = paintWindow (*editor, false);
        const auto tickDifference = firstDifference (kept, plainAfterTick);
        EXPECT_FALSE (tickDifference.has_value()) << "tick differs at " << tickDifference->toString();
    }
}

TEST_F (DisplayPaintTest, AWindowOpenedAfterTheAudioStoppedShowsTheLastCapture)
{
    // The window is closed while audio runs; then the transport stops and the window opens.
    editor.reset();
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    const auto play = [&] (double period)
    {
        for (int block = 0; block < 16; ++block)
        {
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                for (int channel = 0; channel < 2; ++channel)
                    buffer.setSample (channel, i, static_cast<float> (0.7 * std::sin ((block * 512 + i) * 6.283185307179586 / period)));

            processor.processBlock (buffer, midi);
        }
    };

    play (300.0);
    editor = std::make_unique<Editor> (processor);
    const auto shown = paintOnly();

    // What it shows is the waveform of those views: without them the panel looks different.
    const auto views = processor.latestDisplayViews();
    processor.displayedViews = {};
    EXPECT_NE (firstDifference (shown, paintOnly()), std::nullopt);
    processor.displayedViews = views;
    EXPECT_EQ (firstDifference (shown, paintOnly()), std::nullopt);

    // A second window, such as the one drawn for a picture, leaves the first one's display
    // running.
    kestrine::renderEditor (processor);
    play (170.0);
    EXPECT_NE (processor.latestDisplayViews().sampleView, views.sampleView);
}
