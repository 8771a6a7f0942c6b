#pragma once

#include "DotComponent.h"
#include "OtherLookAndFeel.h"
#include "PluginProcessor.h"
#include "UpdateNotice.h"
#include "editor/DisplayGeometry.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <memory>

/** The plug-in window: a fixed 840 x 520 editor with the display, the knobs, the view toggle,
    the theme selector, the web button and the version label. Every control is bound to its
    parameter; moving a knob also refreshes all the processor's mirrors from the parameters.
    Message thread only. */
class CompressorAudioProcessorEditor  : public juce::AudioProcessorEditor,
                                        public juce::Slider::Listener,
                                        public juce::Timer
{
public:
    /** Whether the window asks the maker's site for a newer version when it opens (on the
        message loop's next turn). A picture drawn offscreen (the bundle's snapshots, the
        demo's picture) skips it: it shows the built version label and sends nothing over the
        network. */
    enum class VersionCheck { ask, skip };

    explicit CompressorAudioProcessorEditor (CompressorAudioProcessor&, VersionCheck = VersionCheck::ask);
    ~CompressorAudioProcessorEditor() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void timerCallback() override;
    void sliderValueChanged (juce::Slider*) override;

    /** The version label; replaced by the update notice when a newer version is published. */
    const juce::String& getVersionText() const noexcept    { return versionText; }
    void setVersionText (const juce::String& newText);

    /** The label the window opens with: "Version 2.5.0 " and the platform word. */
    static juce::String builtVersionText();

    /** True once the version check has been started (on the message loop's first turn after
        construction). */
    bool versionCheckStarted() const noexcept               { return updateNotice != nullptr; }

    /** The area the timer repaints while audio flows: the display panel and everything its
        traces can touch. Nothing else in the window changes with the audio. */
    juce::Rectangle<int> displayArea() const noexcept;

    /** Frames are drawn with what does not change between them kept from frame to frame (on
        by default). Off, every frame is drawn afresh, the plain way: the same pixels, more
        slowly. */
    void setFrameCaching (bool shouldCache) noexcept;

private:
    using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;
    using ComboBoxAttachment = juce::AudioProcessorValueTreeState::ComboBoxAttachment;

    void applyTheme();
    void startVersionCheck();
    void layOutKnobs (juce::Graphics&);
    void layOutControls (juce::Graphics&, juce::Colour background);
    bool anyAmplitudeSet() const;

    struct BumpSliders
    {
        juce::Slider& frequency;
        juce::Slider& amplitude;
        juce::Slider& wavelength;
    };

    BumpSliders bumpSliders (size_t index) noexcept;
    std::array<DotComponent*, 3> handles() noexcept     { return { &handle1, &handle2, &handle3 }; }
    void drawBackground (juce::Graphics&, juce::Colour);
    void drawDisplay (juce::Graphics&);
    void drawLines (juce::Graphics&, const juce::Line<float>* lines, int count, float thickness, bool heldClip);

    /** A line of text on the plain background, as it comes out in pixels. */
    struct TextPixels
    {
        juce::String text;
        juce::Font font;
        juce::Colour colour, background;
        juce::Rectangle<int> area;
        juce::Image ink;                 // the pixels the text changes, at inkAt
        juce::Point<int> inkAt;
        bool kept = false;
    };

    void drawTextOnBackground (juce::Graphics&, const juce::String&, juce::Rectangle<int> area,
                               juce::Colour colour, juce::Colour background, TextPixels&);
    const kestrine::DisplayCurve& displayedCurve();
    kestrine::HandlePassContext handlePassContext();
    void runHandlePass();
    void placeHandlesAtRest();
    void followParameterChange (size_t handleIndex);
    std::array<juce::RangedAudioParameter*, 2> handleParameters (size_t handleIndex) const;
    void beginHandleGesture (size_t handleIndex);
    void endHandleGesture (size_t handleIndex);

    CompressorAudioProcessor& audioProcessor;
    OtherLookAndFeel otherLookAndFeel;

    // The amplitude and frequency sliders are never shown: the bump handles write them.
    juce::Slider amplitude1Slider, frequency1Slider, wavelength1Slider;
    juce::Slider amplitude2Slider, frequency2Slider, wavelength2Slider;
    juce::Slider amplitude3Slider, frequency3Slider, wavelength3Slider;
    juce::Slider velocitySlider, distortionSlider, dryWetSlider;

    juce::ToggleButton normalizedButton;
    juce::ComboBox backgroundBox;
    juce::TextButton webButton;

    // The bump handles; the handle pass in paint places them and writes their values.
    DotComponent handle1, handle2, handle3;

    // Per handle: position value and amplitude value x 200, taken at the end of construction.
    std::array<juce::Point<float>, 3> handleOrigins { { { 100.0f, 0.0f }, { 400.0f, 0.0f }, { 700.0f, 0.0f } } };
    int selectedHandle = 1;

    // The displayed bump curve, rebuilt from zero whenever the bumps it shows change (on every
    // paint when frames are not cached).
    kestrine::DisplayCurve displayCurve {};
    std::array<kestrine::DisplayBump, kestrine::numBumps> displayCurveBumps {};
    bool displayCurveBuilt = false;

    // What frames keep of one another (see setFrameCaching): the panel's colour over the
    // background of the theme it was worked out for; and room for the segments of a trace and
    // for one line of the display.
    bool frameCaching = true;
    juce::Colour panelOverBackground;
    juce::Colour panelBackground { juce::Colours::transparentBlack };
    std::array<juce::Line<float>, kestrine::curvePoints> traceLines {};
    juce::Path linePath;
    TextPixels titlePixels, versionPixels;

    // Per handle: the position and amplitude slider values as the handle last wrote or took them.
    // A slider that changes to anything else was set from outside (automation, a restored state),
    // and the handle then takes that value as its new origin instead of writing its own back.
    std::array<juce::Point<double>, 3> handleValues {};

    // Per handle: a drag is under way, and with it a host gesture on its position and amplitude.
    std::array<bool, 3> handleGestureOpen {};

    // Declared after the components they observe, so that they are destroyed first.
    std::unique_ptr<SliderAttachment> amplitude1Attachment, frequency1Attachment, wavelength1Attachment;
    std::unique_ptr<SliderAttachment> amplitude2Attachment, frequency2Attachment, wavelength2Attachment;
    std::unique_ptr<SliderAttachment> amplitude3Attachment, frequency3Attachment, wavelength3Attachment;
    std::unique_ptr<SliderAttachment> velocityAttachment, distortionAttachment, dryWetAttachment;
    std::unique_ptr<ComboBoxAttachment> backColorAttachment;

    bool attachingSliders = false;    // during construction: slider copies wait until all are attached
    bool sliderCopyPending = false;

    int ticksWithoutData = 0;
    juce::String versionText;
    int panelTop = 0;
    juce::Font editorFont { kestrine::makeEmbeddedTypeface() };
    int widthKnobIndex = 1;

    // Asks the maker's site for a newer version off the message thread and hands the label text
    // back on it. Declared last so that it goes first: no answer reaches a half-destroyed editor.
    std::unique_ptr<UpdateNotice> updateNotice;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CompressorAudioProcessorEditor)
};
