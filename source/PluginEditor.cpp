#include "PluginEditor.h"

#include <cmath>
#include <limits>

namespace
{
    constexpr int timerIntervalMs = 16;
    constexpr int knobSize = 100;
    constexpr int captionHeight = 30;
    constexpr float captionFontHeight = 15.0f;
    const juce::Colour captionColour { 0xFF000000u };
    const juce::Colour faintTextColour { 0x4CFFFFFFu };   // the title and the version

    // A component is hidden by moving it far off the window.
    const juce::Rectangle<int> hiddenBounds { -3000, 0, 0, 0 };

    struct KnobRange
    {
        double minimum, maximum, step;
    };

    constexpr KnobRange widthRange { 5.0, 100.0, 1.0 };
    constexpr KnobRange bipolarRange { -1.0, 1.0, 0.01 };
    constexpr KnobRange dryWetRange { 0.0, 1.0, 0.001 };

    const juce::StringArray themeNames {
        "Vibrato Background", "Crescendo Background", "Rhapsody Background",
        "Staccato Background", "Tremolo Background", "Arpeggio Background"
    };

    const juce::String website { JucePlugin_ManufacturerWebsite };

    void drawCaption (juce::Graphics& g, const juce::String& text, int x, int y)
    {
        g.drawFittedText (text, x, y, knobSize, captionHeight, juce::Justification::centred, 1);
    }
}

//==============================================================================
CompressorAudioProcessorEditor::CompressorAudioProcessorEditor (CompressorAudioProcessor& p, VersionCheck versionCheck)
    : AudioProcessorEditor (&p), audioProcessor (p)
{
    startTimer (timerIntervalMs);
    setResizable (false, false);
    setSize (audioProcessor.editorWidth, audioProcessor.editorHeight);

    struct Knob
    {
        juce::Slider* slider;
        const char* parameterId;
        KnobRange range;
    };

    const std::array<Knob, 6> knobs { {
        { &wavelength1Slider, "wavelength1", widthRange }, { &wavelength2Slider, "wavelength2", widthRange },
        { &wavelength3Slider, "wavelength3", widthRange }, { &velocitySlider, "velocity", bipolarRange },
        { &distortionSlider, "distortion", bipolarRange }, { &dryWetSlider, "drywet", dryWetRange }
    } };

    // Each visible control carries the identifier of its parameter as its component ID, so
    // that tools and tests can find it in the component tree.
    for (const auto& [knob, parameterId, range] : knobs)
    {
        knob->setComponentID (parameterId);
        knob->setSliderStyle (juce::Slider::RotaryVerticalDrag);
        knob->setRange (range.minimum, range.maximum, range.step);
        knob->setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
        knob->setPopupDisplayEnabled (false, false, nullptr);
        addAndMakeVisible (*knob);
        knob->addListener (this);
    }

    addAndMakeVisible (normalizedButton);
    normalizedButton.setComponentID ("normalized");
    normalizedButton.setButtonText ("Normalized");
    normalizedButton.onClick = [this]
    {
        audioProcessor.normalisedViewSelected = ! audioProcessor.normalisedViewSelected.load();
        repaint();
    };

    for (int i = 0; i < themeNames.size(); ++i)
        backgroundBox.addItem (themeNames[i], i + 1);

    backgroundBox.setJustificationType (juce::Justification::centred);
    backgroundBox.setComponentID ("backColor");
    addAndMakeVisible (backgroundBox);

    // Attaching a knob reports its value at once; the mirrors are refreshed once, after every
    // slider is attached.
    attachingSliders = true;

    auto& state = audioProcessor.parameters;
    amplitude1Attachment   = std::make_unique<SliderAttachment> (state, "amplitude1",  amplitude1Slider);
    frequency1Attachment   = std::make_unique<SliderAttachment> (state, "frequency1",  frequency1Slider);
    wavelength1Attachment  = std::make_unique<SliderAttachment> (state, "wavelength1", wavelength1Slider);
    amplitude2Attachment   = std::make_unique<SliderAttachment> (state, "amplitude2",  amplitude2Slider);
    frequency2Attachment   = std::make_unique<SliderAttachment> (state, "frequency2",  frequency2Slider);
    wavelength2Attachment  = std::make_unique<SliderAttachment> (state, "wavelength2", wavelength2Slider);
    amplitude3Attachment   = std::make_unique<SliderAttachment> (state, "amplitude3",  amplitude3Slider);
    frequency3Attachment   = std::make_unique<SliderAttachment> (state, "frequency3",  frequency3Slider);
    wavelength3Attachment  = std::make_unique<SliderAttachment> (state, "wavelength3", wavelength3Slider);
    velocityAttachment     = std::make_unique<SliderAttachment> (state, "velocity",    velocitySlider);
    distortionAttachment   = std::make_unique<SliderAttachment> (state, "distortion",  distortionSlider);
    dryWetAttachment       = std::make_unique<SliderAttachment> (state, "drywet",      dryWetSlider);

    attachingSliders = false;

    if (sliderCopyPending)
        sliderValueChanged (nullptr);

    // Item k (ID k + 1) stands for choice k of "backColor".
    backColorAttachment = std::make_unique<ComboBoxAttachment> (state, "backColor", backgroundBox);

    applyTheme();
    backgroundBox.onChange = [this] { applyTheme(); };

    addAndMakeVisible (webButton);
    webButton.setComponentID ("web");
    webButton.setButtonText (juce::URL (website).getDomain());
    webButton.onClick = [] { juce::URL (website).launchInDefaultBrowser(); };

    versionText = builtVersionText();
    panelTop = getHeight() / 2 - 180;
    setLookAndFeel (&otherLookAndFeel);

    for (size_t i = 0; i < handleOrigins.size(); ++i)
    {
        auto& handle = *handles()[i];
        addAndMakeVisible (handle);
        handle.id = static_cast<int> (i) + 1;
        handle.setComponentID ("handle" + juce::String (handle.id));
    }

    for (size_t i = 0; i < handleOrigins.size(); ++i)
    {
        const auto sliders = bumpSliders (i);
        handleOrigins[i] = { static_cast<float> (sliders.frequency.getValue()),
                             static_cast<float> (sliders.amplitude.getValue() * 200.0) };
        handleValues[i] = { sliders.frequency.getValue(), sliders.amplitude.getValue() };

        // Only the attachments (automation, a restored state) and the handle itself set these
        // sliders; followParameterChange tells the two apart.
        sliders.frequency.onValueChange = [this, i] { followParameterChange (i); };
        sliders.amplitude.onValueChange = [this, i] { followParameterChange (i); };

        handles()[i]->onDragStart = [this, i] { beginHandleGesture (i); };
        handles()[i]->onDragEnd = [this, i] { endHandleGesture (i); };
    }

    placeHandlesAtRest();

    // The version check starts on the message loop's next turn, not in here: a program that
    // makes an editor only to inspect it (the LV2 manifest writer does, at build time) runs no
    // loop, so it sends no request and leaves no request thread running when it exits. A
    // picture drawn offscreen never starts one.
    if (versionCheck == VersionCheck::ask)
    {
        juce::MessageManager::callAsync ([editor = juce::Component::SafePointer<CompressorAudioProcessorEditor> (this)]
        {
            if (editor != nullptr)
                editor->startVersionCheck();
        });
    }
}

void CompressorAudioProcessorEditor::startVersionCheck()
{
    if (updateNotice == nullptr)
        updateNotice = std::make_unique<UpdateNotice> ([this] (const juce::String& text) { setVersionText (text); });
}

CompressorAudioProcessorEditor::~CompressorAudioProcessorEditor()
{
    // A window closed during a drag still ends the drag's gestures.
    for (size_t i = 0; i < handleGestureOpen.size(); ++i)
        endHandleGesture (i);

    updateNotice.reset();
    setLookAndFeel (nullptr);
    stopTimer();
}

//==============================================================================
juce::String CompressorAudioProcessorEditor::builtVersionText()
{
    return UpdateNotice::builtLabel();
}

void CompressorAudioProcessorEditor::setVersionText (const juce::String& newText)
{
    versionText = newText;
    repaint();
}

void CompressorAudioProcessorEditor::applyTheme()
{
    // backgroundIndex follows the parameter itself: the box catches up with host automation
    // only asynchronously and may still show an older choice.
    const int index = backgroundBox.getSelectedId();
    audioProcessor.refreshMirror (ParameterIds::backColor, CompressorAudioProcessor::Smoothing::glide);

    otherLookAndFeel.themeColour = otherLookAndFeel.backgroundColour (index);

    // The timer repaints only the display; the background around it follows the theme too.
    repaint();
}

//==============================================================================
void CompressorAudioProcessorEditor::timerCallback()
{
    // Only the display changes with the audio. A handle that the handle pass moves repaints
    // where it was and where it goes by itself.
    if (audioProcessor.blockProcessed.exchange (false))
    {
        ticksWithoutData = 0;
        repaint (displayArea());
    }
    else if (ticksWithoutData < std::numeric_limits<int>::max())
    {
        ++ticksWithoutData;
    }
}

void CompressorAudioProcessorEditor::sliderValueChanged (juce::Slider*)
{
    if (attachingSliders)
    {
        sliderCopyPending = true;
        return;
    }

    // All twelve mirrors, from the parameters rather than from the sliders: a slider catches up
    // with host automation only asynchronously, and until then holds an older value.
    audioProcessor.refreshMirrors (CompressorAudioProcessor::Smoothing::glide);
    audioProcessor.updateParameters (false);
}

//==============================================================================
void CompressorAudioProcessorEditor::paint (juce::Graphics& g)
{
    const auto background = otherLookAndFeel.backgroundColour (audioProcessor.backgroundIndex.load());
    drawBackground (g, background);
    drawDisplay (g);

    g.setFont (editorFont);
    g.setFont (captionFontHeight);
    g.setColour (captionColour);

    layOutKnobs (g);
    runHandlePass();
    layOutControls (g, background);
}

namespace
{
    /** Whether the frame is drawn by the framework's own software renderer on whole pixels: the
        pieces of the frame can then be drawn separately with the pixels of drawing it whole,
        and a blend the renderer works out once is the one it would make (another renderer, such
        as the system's, gets the plain drawing). */
    bool drawsOnWholePixels (juce::Graphics& g)
    {
        auto& context = g.getInternalContext();
        const float scale = context.getPhysicalPixelScaleFactor();
        return dynamic_cast<juce::LowLevelGraphicsSoftwareRenderer*> (&context) != nullptr
            && scale >= 1.0f && scale == std::floor (scale);
    }

    juce::Rectangle<int> displayPanel (int editorWidth, int panelTop) noexcept
    {
        return { kestrine::panelLeft (editorWidth), panelTop, kestrine::panelWidth, kestrine::panelHeight };
    }
}

juce::Rectangle<int> CompressorAudioProcessorEditor::displayArea() const noexcept
{
    // The traces are 3 pixels thick: they reach 1.5 pixels past the panel on every side.
    constexpr int traceReach = 4;
    return displayPanel (getWidth(), panelTop).expanded (traceReach);
}

void CompressorAudioProcessorEditor::setFrameCaching (bool shouldCache) noexcept
{
    frameCaching = shouldCache;
    otherLookAndFeel.cacheKnobs = shouldCache;
}

void CompressorAudioProcessorEditor::drawBackground (juce::Graphics& g, juce::Colour background)
{
    constexpr float titleHeight = 24.0f;
    const auto panel = displayPanel (getWidth(), panelTop);
    const auto drawTitle = [&]
    {
        g.setFont (editorFont);
        g.setFont (titleHeight);
        g.setColour (faintTextColour);
        drawTextOnBackground (g, juce::String (audioProcessor.titleText), { 0, panelTop - 50, getWidth(), 30 },
                              faintTextColour, background, titlePixels);
    };

    if (! (frameCaching && background.isOpaque() && drawsOnWholePixels (g)))
    {
        g.fillAll (background);
        drawTitle();
        g.setColour (otherLookAndFeel.panelColour);
        g.fillRect (panel);
        return;
    }

    // The panel veils an opaque background of one colour: its pixels all come out in one
    // opaque colour, worked out once per theme by the renderer itself. Filling the window
    // around the panel and the panel with that colour sets every pixel as the veil would.
    if (background != panelBackground)
    {
        juce::Image pixel (juce::Image::ARGB, 1, 1, true);
        {
            juce::Graphics one (pixel);
            one.fillAll (background);
            one.setColour (otherLookAndFeel.panelColour);
            one.fillRect (0, 0, 1, 1);
        }

        panelOverBackground = pixel.getPixelAt (0, 0);
        panelBackground = background;
    }

    const auto bounds = getLocalBounds();
    g.setColour (background);
    g.fillRect (bounds.withBottom (panel.getY()));
    g.fillRect (bounds.withTop (panel.getBottom()));
    g.fillRect (panel.withX (bounds.getX()).withRight (panel.getX()));
    g.fillRect (panel.withX (panel.getRight()).withRight (bounds.getRight()));

    drawTitle();
    g.setColour (panelOverBackground);
    g.fillRect (panel);
}

void CompressorAudioProcessorEditor::drawLines (juce::Graphics& g, const juce::Line<float>* lines, int count,
                                                float thickness, bool heldClip)
{
    if (! heldClip)
    {
        for (int i = 0; i < count; ++i)
            g.drawLine (lines[i], thickness);

        return;
    }

    // The lines are drawn in their order, each exactly as drawLine draws it, with the clip
    // held to the surroundings of a few neighbouring lines at a time: the renderer then works
    // only on the rows they cover instead of the whole window's, and a line that stays inside
    // the clip is drawn as with any larger clip. Groups outside the clip are skipped. (Joining
    // level lines into one would not do: the renderer blends a lone pixel of partial coverage
    // with other rounding than a run of them.)
    constexpr int largestGroup = 16;
    constexpr int groupSlack = 12;   // rows a group may add to its tallest line
    const float reach = thickness * 0.5f + 2.0f;

    const auto surroundings = [reach] (juce::Line<float> line)
    {
        const auto x1 = std::min (line.getStartX(), line.getEndX()), x2 = std::max (line.getStartX(), line.getEndX());
        const auto y1 = std::min (line.getStartY(), line.getEndY()), y2 = std::max (line.getStartY(), line.getEndY());
        return juce::Rectangle<float>::leftTopRightBottom (x1 - reach, y1 - reach, x2 + reach, y2 + reach)
                   .getSmallestIntegerContainer();
    };

    for (int first = 0; first < count;)
    {
        auto groupBox = surroundings (lines[first]);
        int tallest = groupBox.getHeight();
        int end = first + 1;

        for (; end < count && end - first < largestGroup; ++end)
        {
            const auto box = surroundings (lines[end]);
            const auto joined = groupBox.getUnion (box);

            if (joined.getHeight() > std::max (tallest, box.getHeight()) + groupSlack)
                break;

            groupBox = joined;
            tallest = std::max (tallest, box.getHeight());
        }

        if (g.clipRegionIntersects (groupBox))
        {
            const juce::Graphics::ScopedSaveState state (g);
            g.reduceClipRegion (groupBox);

            for (int k = first; k < end; ++k)
            {
                linePath.clear();
                linePath.addLineSegment (lines[k], thickness);
                g.fillPath (linePath);
            }
        }

        first = end;
    }
}

const kestrine::DisplayCurve& CompressorAudioProcessorEditor::displayedCurve()
{
    std::array<kestrine::DisplayBump, kestrine::numBumps> bumps;

    for (size_t k = 0; k < bumps.size(); ++k)
    {
        const auto& mirror = audioProcessor.bumps[k];
        bumps[k] = { mirror.amplitude.load(), mirror.position.load(), mirror.width.load() };
    }

    const auto same = [] (const kestrine::DisplayBump& a, const kestrine::DisplayBump& b)
    {
        return a.amplitude == b.amplitude && a.position == b.position && a.width == b.width;
    };

    if (! (frameCaching && displayCurveBuilt && std::equal (bumps.begin(), bumps.end(), displayCurveBumps.begin(), same)))
    {
        kestrine::buildDisplayCurve (displayCurve, bumps);
        displayCurveBumps = bumps;
        displayCurveBuilt = true;
    }

    return displayCurve;
}

void CompressorAudioProcessorEditor::drawDisplay (juce::Graphics& g)
{
    constexpr float gridThickness = 0.5f;
    constexpr float traceThickness = 3.0f;

    const bool heldClip = frameCaching && drawsOnWholePixels (g);
    const int left = kestrine::panelLeft (getWidth());
    const auto right = static_cast<float> (left + kestrine::panelWidth);
    const int baseline = kestrine::panelBaseline (panelTop);

    g.setColour (otherLookAndFeel.themeColour);

    for (const int y : { baseline, panelTop + 100, panelTop + 300 })
    {
        const juce::Line<float> line { static_cast<float> (left), static_cast<float> (y), right, static_cast<float> (y) };
        drawLines (g, &line, 1, gridThickness, heldClip);
    }

    // Each point is one pixel column; a segment runs from the previous point's height to its own.
    const auto segment = [&] (int i, float fromHeight, float toHeight)
    {
        const auto x = static_cast<float> (left + i);
        traceLines[static_cast<size_t> (i)] = { x, static_cast<float> (baseline) - fromHeight,
                                                x + 1.0f, static_cast<float> (baseline) - toHeight };
    };

    const auto& views = audioProcessor.latestDisplayViews();
    const auto& waveform = audioProcessor.normalisedViewSelected.load() ? views.normalisedView : views.sampleView;

    for (int i = 0, previous = 0; i < kestrine::curvePoints; ++i)
    {
        const int height = kestrine::waveformHeight (waveform[static_cast<size_t> (i)]);
        segment (i, static_cast<float> (previous), static_cast<float> (height));
        previous = height;
    }

    g.setColour (otherLookAndFeel.waveformColour);
    drawLines (g, traceLines.data(), kestrine::curvePoints, traceThickness, heldClip);

    const auto& curve = displayedCurve();

    for (int i = 0, previous = 0; i < kestrine::curvePoints; ++i)
    {
        const float height = kestrine::curveHeight (curve[static_cast<size_t> (i)]);
        segment (i, static_cast<float> (previous), height);
        previous = kestrine::truncateToInt (height);
    }

    g.setColour (otherLookAndFeel.curveColour);
    drawLines (g, traceLines.data(), kestrine::curvePoints, traceThickness, heldClip);
}

//==============================================================================
CompressorAudioProcessorEditor::BumpSliders CompressorAudioProcessorEditor::bumpSliders (size_t index) noexcept
{
    switch (index)
    {
        case 0:  return { frequency1Slider, amplitude1Slider, wavelength1Slider };
        case 1:  return { frequency2Slider, amplitude2Slider, wavelength2Slider };
        default: return { frequency3Slider, amplitude3Slider, wavelength3Slider };
    }
}

kestrine::HandlePassContext CompressorAudioProcessorEditor::handlePassContext()
{
    kestrine::HandlePassContext context;
    context.editorWidth = getWidth();
    context.ticksWithoutData = ticksWithoutData;
    context.widthKnobIndex = widthKnobIndex;
    context.selectedHandle = selectedHandle;

    for (size_t i = 0; i < handleOrigins.size(); ++i)
    {
        const auto sliders = bumpSliders (i);
        context.bumps[i] = { static_cast<int> (sliders.frequency.getValue()), static_cast<int> (sliders.wavelength.getValue()) };
        context.origins[i] = { handleOrigins[i].x, handleOrigins[i].y };
    }

    return context;
}

namespace
{
    kestrine::HandleState stateOf (const DotComponent& h) noexcept
    {
        kestrine::HandleState state;
        state.left = h.getX();
        state.top = h.getY();
        state.offsetX = h.offsetX;
        state.offsetY = h.offsetY;
        state.dragX = h.dragX;
        state.dragY = h.dragY;
        state.minX = h.minX;
        state.maxX = h.maxX;
        state.minY = h.minY;
        state.maxY = h.maxY;
        state.moved = h.moved;
        state.dragging = h.dragging;
        state.draggable = h.draggable;
        state.selectedId = h.selectedId;
        return state;
    }

    void applyState (DotComponent& h, const kestrine::HandleState& state)
    {
        h.offsetX = state.offsetX;
        h.offsetY = state.offsetY;
        h.minX = state.minX;
        h.maxX = state.maxX;
        h.minY = state.minY;
        h.maxY = state.maxY;
        h.moved = state.moved;
        h.draggable = state.draggable;
        h.selectedId = state.selectedId;
        h.setBounds (state.left, state.top, kestrine::handleDiameter, kestrine::handleDiameter);
    }
}

void CompressorAudioProcessorEditor::runHandlePass()
{
    std::array<kestrine::HandleState, kestrine::numBumps> states;

    for (size_t i = 0; i < states.size(); ++i)
        states[i] = stateOf (*handles()[i]);

    auto context = handlePassContext();
    const auto writes = kestrine::runHandlePass (states, context);
    widthKnobIndex = context.widthKnobIndex;
    selectedHandle = context.selectedHandle;

    for (size_t i = 0; i < states.size(); ++i)
    {
        if (writes[i].due)
        {
            // Asynchronous, so the attachments pass the values on after this paint; the sliders
            // hold them within the parameters' ranges and steps at once.
            const auto sliders = bumpSliders (i);
            sliders.frequency.setValue (writes[i].position, juce::sendNotificationAsync);
            sliders.amplitude.setValue (writes[i].amplitude, juce::sendNotificationAsync);
            handleValues[i] = { sliders.frequency.getValue(), sliders.amplitude.getValue() };
            sliderValueChanged (nullptr);
        }

        applyState (*handles()[i], states[i]);
    }
}

void CompressorAudioProcessorEditor::placeHandlesAtRest()
{
    // The limits and places the next handle pass starts from; without them a handle that was
    // never placed would count as lying outside its limits and be pushed or nudged.
    std::array<kestrine::HandleState, kestrine::numBumps> states;

    for (size_t i = 0; i < states.size(); ++i)
        states[i] = stateOf (*handles()[i]);

    kestrine::placeHandles (states, handlePassContext());

    for (size_t i = 0; i < states.size(); ++i)
        applyState (*handles()[i], states[i]);
}

void CompressorAudioProcessorEditor::followParameterChange (size_t handleIndex)
{
    // Slider steps are 0.01; the parameters' float round trip stays far below this.
    constexpr double sameValue = 1.0e-4;

    auto& handle = *handles()[handleIndex];
    const auto sliders = bumpSliders (handleIndex);
    const juce::Point<double> current { sliders.frequency.getValue(), sliders.amplitude.getValue() };
    const auto& own = handleValues[handleIndex];

    // Its own writes coming back, or the user's drag, which writes over anything else.
    if (handle.dragging || (std::abs (current.x - own.x) < sameValue && std::abs (current.y - own.y) < sameValue))
        return;

    handleOrigins[handleIndex] = { static_cast<float> (current.x), static_cast<float> (current.y * 200.0) };
    handleValues[handleIndex] = current;
    handle.offsetX = 0;
    handle.offsetY = 0;
    handle.dragX = 0;
    handle.dragY = 0;
    handle.moved = false;

    placeHandlesAtRest();
    repaint();
}

std::array<juce::RangedAudioParameter*, 2> CompressorAudioProcessorEditor::handleParameters (size_t handleIndex) const
{
    const auto& state = audioProcessor.parameters;
    return { state.getParameter (ParameterIds::all[3 * handleIndex + 1]), state.getParameter (ParameterIds::all[3 * handleIndex]) };
}

void CompressorAudioProcessorEditor::beginHandleGesture (size_t handleIndex)
{
    if (handleGestureOpen[handleIndex])
        return;

    handleGestureOpen[handleIndex] = true;

    for (auto* parameter : handleParameters (handleIndex))
        parameter->beginChangeGesture();
}

void CompressorAudioProcessorEditor::endHandleGesture (size_t handleIndex)
{
    if (! handleGestureOpen[handleIndex])
        return;

    handleGestureOpen[handleIndex] = false;

    // The values the drag ended on reach the parameters inside the gesture. The handle pass of
    // the next repaint writes the same values again and so changes nothing; a slider write of
    // an earlier pass still waiting to be delivered then finds its parameter already there.
    const auto& handle = *handles()[handleIndex];
    const auto& origin = handleOrigins[handleIndex];
    const auto sliders = bumpSliders (handleIndex);
    sliders.frequency.setValue (kestrine::handlePosition (origin.x, handle.offsetX, handle.dragX), juce::dontSendNotification);
    sliders.amplitude.setValue (kestrine::handleAmplitude (origin.y, handle.offsetY, handle.dragY), juce::dontSendNotification);
    handleValues[handleIndex] = { sliders.frequency.getValue(), sliders.amplitude.getValue() };

    const auto parameters = handleParameters (handleIndex);
    const std::array<const juce::Slider*, 2> written { &sliders.frequency, &sliders.amplitude };

    for (size_t k = 0; k < parameters.size(); ++k)
    {
        const float value = parameters[k]->convertTo0to1 (static_cast<float> (written[k]->getValue()));

        if (parameters[k]->getValue() != value)
            parameters[k]->setValueNotifyingHost (value);
    }

    for (auto* parameter : parameters)
        parameter->endChangeGesture();
}

void CompressorAudioProcessorEditor::resized() {}

bool CompressorAudioProcessorEditor::anyAmplitudeSet() const
{
    return amplitude1Slider.getValue() != 0.0 || amplitude2Slider.getValue() != 0.0 || amplitude3Slider.getValue() != 0.0;
}

void CompressorAudioProcessorEditor::layOutKnobs (juce::Graphics& g)
{
    const int centreX = getWidth() / 2;
    const int knobTop = panelTop + 305;
    const int captionTop = panelTop + 340;

    velocitySlider.setBounds (hiddenBounds);

    if (anyAmplitudeSet())
    {
        velocitySlider.setBounds (centreX - 150, knobTop, knobSize, knobSize);
        drawCaption (g, "Move", centreX - 150, captionTop);
    }

    distortionSlider.setBounds (centreX + 50, knobTop, knobSize, knobSize);
    drawCaption (g, "Distort", centreX + 50, captionTop);

    dryWetSlider.setBounds (centreX + 200, knobTop, knobSize, knobSize);
    drawCaption (g, "Dry/Wet", centreX + 200, captionTop);

    // The three width knobs share one place; the one of the last grabbed bump is shown while
    // that bump has an amplitude.
    const std::array<std::pair<juce::Slider*, const juce::Slider*>, 3> widthKnobs { {
        { &wavelength1Slider, &amplitude1Slider },
        { &wavelength2Slider, &amplitude2Slider },
        { &wavelength3Slider, &amplitude3Slider }
    } };

    for (const auto& knob : widthKnobs)
        knob.first->setBounds (hiddenBounds);

    for (int i = 1; i <= static_cast<int> (widthKnobs.size()); ++i)
    {
        const auto& [knob, amplitude] = widthKnobs[static_cast<size_t> (i - 1)];

        if (widthKnobIndex == i && amplitude->getValue() != 0.0)
        {
            knob->setBounds (centreX - 300, knobTop, knobSize, knobSize);
            drawCaption (g, "Width " + juce::String (i), centreX - 300, captionTop);
        }
    }

    normalizedButton.setEnabled (true);
}

void CompressorAudioProcessorEditor::layOutControls (juce::Graphics& g, juce::Colour background)
{
    const int centreX = getWidth() / 2;
    const int height = getHeight();

    normalizedButton.setBounds (centreX + 240, panelTop - 50, 100, 30);

    backgroundBox.setLookAndFeel (&otherLookAndFeel);
    backgroundBox.setBounds (centreX - 400, panelTop - 50, 200, 30);
    backgroundBox.setEnabled (true);

    webButton.setBounds (-10, height - 30, 200, 30);

    drawTextOnBackground (g, versionText, { 150, height - 30, 200, 30 }, faintTextColour, background, versionPixels);
}

void CompressorAudioProcessorEditor::drawTextOnBackground (juce::Graphics& g, const juce::String& text, juce::Rectangle<int> area,
                                                           juce::Colour colour, juce::Colour background, TextPixels& kept)
{
    // In the context's current font and the colour given (which it sets), fitted on one centred
    // line, as drawFittedText draws it. Over a plain opaque background the result is a fixed set of pixels: they are
    // drawn once, in the window's own coordinates (so that every glyph lands exactly where it
    // would), and copied from then on. Only with the framework's software renderer at its own
    // scale, whose pixels these are.
    g.setColour (colour);
    const auto font = g.getCurrentFont();

    if (! (frameCaching && background.isOpaque() && drawsOnWholePixels (g)
           && g.getInternalContext().getPhysicalPixelScaleFactor() == 1.0f))
    {
        g.drawFittedText (text, area, juce::Justification::centred, 1);
        return;
    }

    if (! (kept.kept && kept.text == text && kept.font == font && kept.colour == colour
           && kept.background == background && kept.area == area))
    {
        juce::Image pixels (juce::Image::ARGB, area.getWidth(), area.getHeight(), true);
        {
            juce::Graphics drawn (pixels);
            drawn.setOrigin (-area.getPosition());
            drawn.fillAll (background);
            drawn.setFont (font);
            drawn.setColour (colour);
            drawn.drawFittedText (text, area, juce::Justification::centred, 1);
        }

        juce::Rectangle<int> inked;
        const juce::Image::BitmapData data (pixels, juce::Image::BitmapData::readOnly);
        const auto plain = background.getPixelARGB().getNativeARGB();

        for (int y = 0; y < pixels.getHeight(); ++y)
        {
            const auto* line = reinterpret_cast<const juce::PixelARGB*> (data.getLinePointer (y));

            for (int x = 0; x < pixels.getWidth(); ++x)
                if (line[x].getNativeARGB() != plain)
                    inked = inked.isEmpty() ? juce::Rectangle<int> (x, y, 1, 1) : inked.getUnion ({ x, y, 1, 1 });
        }

        kept.text = text;
        kept.font = font;
        kept.colour = colour;
        kept.background = background;
        kept.area = area;
        kept.ink = inked.isEmpty() ? juce::Image() : pixels.getClippedImage (inked).createCopy();
        kept.inkAt = area.getPosition() + inked.getPosition();
        kept.kept = true;
    }

    // An image is drawn with the opacity of the current colour: fully opaque here, so that its
    // pixels are copied as they are; the colour is left as drawing the text leaves it.
    if (kept.ink.isValid())
    {
        g.setOpacity (1.0f);
        g.drawImageAt (kept.ink, kept.inkAt.x, kept.inkAt.y);
        g.setColour (colour);
    }
}
