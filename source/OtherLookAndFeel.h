#pragma once

#include <BinaryData.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <cmath>

namespace kestrine
{
    /** A new typeface on the embedded Sulphur Point Bold data. Each call loads the data anew. */
    inline juce::Typeface::Ptr makeEmbeddedTypeface()
    {
        return juce::Typeface::createSystemTypefaceFor (BinaryData::SulphurPointBold_ttf,
                                                        static_cast<size_t> (BinaryData::SulphurPointBold_ttfSize));
    }
}

/** The editor's look: bare text buttons with underlined captions, a bare combo box with a
    chevron, a popup menu in the theme colour, knobs drawn as a faint ring with a black value
    arc, a thumb dot and an outward pointer. It also carries the colours of the display.
    Message thread only. */
class OtherLookAndFeel  : public juce::LookAndFeel_V4
{
public:
    OtherLookAndFeel()
    {
        setColour (juce::Slider::thumbColourId, juce::Colour (0xFFF0FFFFu));
    }

    ~OtherLookAndFeel() override = default;

    /** Grid lines and popup-menu background; the editor sets it to the selected theme's colour. */
    juce::Colour themeColour { 0xFF4682B4u };

    /** Window background for theme index 0 to 6 (0 means no item selected). */
    const std::array<juce::Colour, 7> backgroundColours {
        juce::Colour (0xFF4682B4u), juce::Colour (0xFF4682B4u), juce::Colour (0xFF663399u),
        juce::Colour (0xFFA52A2Au), juce::Colour (0xFFDAA520u), juce::Colour (0xFFFF1493u),
        juce::Colour (0xFF5F9EA0u)
    };

    /** The window background of theme index, transparent black for an index outside 0 to 6. */
    juce::Colour backgroundColour (int index) const noexcept
    {
        return index >= 0 && index < static_cast<int> (backgroundColours.size())
                 ? backgroundColours[static_cast<size_t> (index)]
                 : juce::Colours::transparentBlack;
    }

    const juce::Colour panelColour { 0x66F5F5F5u };
    const juce::Colour waveformColour { 0xB2000000u };
    const juce::Colour curveColour { 0xE6FFFFFFu };

    /** Captions of text buttons; underlined from the first button drawn on. */
    juce::Font buttonFont { kestrine::makeEmbeddedTypeface() };

    //==============================================================================
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool, bool) override {}

    void drawButtonText (juce::Graphics& g, juce::TextButton& button,
                         bool isHighlighted, bool isDown) override
    {
        buttonFont.setUnderline (true);
        g.setFont (buttonFont);
        g.setColour (isHighlighted || isDown ? juce::Colour (0x80FFFFFFu) : juce::Colour (0x4CFFFFFFu));
        g.drawFittedText (button.getButtonText(), 0, 0, button.getWidth(), button.getHeight(),
                          juce::Justification::centred, 1);
    }

    void drawBubble (juce::Graphics&, juce::BubbleComponent&,
                     const juce::Point<float>&, const juce::Rectangle<float>&) override {}

    void drawPopupMenuBackground (juce::Graphics& g, int width, int height) override
    {
        g.fillAll (themeColour);
        g.setColour (findColour (juce::PopupMenu::textColourId).withAlpha (0.6f));
        g.drawRect (juce::Rectangle<float> (0.0f, 0.0f, static_cast<float> (width), static_cast<float> (height)), 1.0f);
    }

    juce::Font getPopupMenuFont() override
    {
        static const juce::Typeface::Ptr typeface = kestrine::makeEmbeddedTypeface();
        return juce::Font (typeface);
    }

    void drawComboBox (juce::Graphics& g, int width, int height, bool,
                       int, int, int, int, juce::ComboBox& box) override
    {
        // A downward chevron in the 20-pixel zone from width - 30 to width - 10; no body.
        const int h2 = height / 2;
        juce::Path chevron;
        chevron.startNewSubPath (static_cast<float> (width - 27), static_cast<float> (h2 - 2));
        chevron.lineTo (static_cast<float> (width - 20), static_cast<float> (h2 + 3));
        chevron.lineTo (static_cast<float> (width - 13), static_cast<float> (h2 - 2));

        g.setColour (box.findColour (juce::ComboBox::arrowColourId).withAlpha (box.isEnabled() ? 0.9f : 0.2f));
        g.strokePath (chevron, juce::PathStrokeType (2.0f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt));
    }

    juce::Font getComboBoxFont (juce::ComboBox&) override
    {
        static const juce::Typeface::Ptr typeface = kestrine::makeEmbeddedTypeface();
        return juce::Font (typeface);
    }

    void drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                           float rotaryStartAngle, float rotaryEndAngle, juce::Slider& slider) override
    {
        const KnobKey key { x, y, width, height, sliderPos, rotaryStartAngle, rotaryEndAngle,
                            g.getInternalContext().getPhysicalPixelScaleFactor() };
        KnobOutlines uncachedKnob;
        const auto& knob = cacheKnobs ? cachedKnob (key) : (uncachedKnob = makeKnob (key));

        g.setColour (juce::Colour (0x33FFFFFFu));
        g.fillPath (knob.track);

        if (slider.isEnabled())
        {
            g.setColour (juce::Colours::black);
            g.fillPath (knob.valueArc);
        }

        g.setColour (slider.findColour (juce::Slider::thumbColourId));
        g.fillPath (knob.thumb);
        g.fillPath (knob.pointer);
    }

    /** Knobs keep their outlines from one paint to the next until they move (on by default);
        off, they are worked out afresh on every paint. Either way the pixels are the same. */
    bool cacheKnobs = true;

    juce::Font getSliderPopupFont (juce::Slider&) override
    {
        static const juce::Typeface::Ptr typeface = kestrine::makeEmbeddedTypeface();
        return juce::Font (typeface);
    }

    int getSliderPopupPlacement (juce::Slider&) override
    {
        return juce::BubbleComponent::below;
    }

private:
    /** Everything a knob's outlines depend on. */
    struct KnobKey
    {
        int x = 0, y = 0, width = 0, height = 0;
        float sliderPos = 0.0f, startAngle = 0.0f, endAngle = 0.0f;
        float pixelScale = 1.0f;

        bool operator== (const KnobKey& other) const noexcept
        {
            return x == other.x && y == other.y && width == other.width && height == other.height
                && sliderPos == other.sliderPos && startAngle == other.startAngle && endAngle == other.endAngle
                && pixelScale == other.pixelScale;
        }
    };

    /** A knob's outlines: a faint ring, a value arc (both stroked with round ends, as the
        renderer strokes them), a thumb dot and an outward pointer. */
    struct KnobOutlines
    {
        juce::Path track, valueArc, thumb, pointer;
    };

    static KnobOutlines makeKnob (const KnobKey& key)
    {
        constexpr float margin = 10.0f;
        constexpr float maximumLineWidth = 8.0f;
        constexpr float thumbScale = 1.8f;
        constexpr float pointerScale = 0.4f;
        constexpr float halfPi = 1.5707964f;

        const auto bounds = juce::Rectangle<int> (key.x, key.y, key.width, key.height).toFloat().reduced (margin);
        const float radius = juce::jmin (bounds.getWidth(), bounds.getHeight()) * 0.5f;
        const float lineW = juce::jmin (radius * 0.5f, maximumLineWidth);
        const float arcRadius = radius - lineW * 0.5f;
        const auto centre = bounds.getCentre();
        const float toAngle = key.startAngle + key.sliderPos * (key.endAngle - key.startAngle);

        const juce::PathStrokeType stroke (lineW, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);
        KnobOutlines knob;

        juce::Path track;
        track.addCentredArc (centre.x, centre.y, arcRadius, arcRadius, 0.0f, key.startAngle, key.endAngle, true);
        stroke.createStrokedPath (knob.track, track, {}, key.pixelScale);

        juce::Path valueArc;
        valueArc.addCentredArc (centre.x, centre.y, arcRadius, arcRadius, 0.0f, key.startAngle, toAngle, true);
        stroke.createStrokedPath (knob.valueArc, valueArc, {}, key.pixelScale);

        const float thumbDiameter = lineW * thumbScale;
        const juce::Point<float> thumbCentre (centre.x + arcRadius * std::cos (toAngle - halfPi),
                                              centre.y + arcRadius * std::sin (toAngle - halfPi));
        knob.thumb.addEllipse (juce::Rectangle<float> (thumbDiameter, thumbDiameter).withCentre (thumbCentre));

        // A small triangle standing on the track's outer edge, pointing outward.
        const float t = thumbDiameter * pointerScale;
        knob.pointer.addTriangle (-t * 0.5f, -radius, t * 0.5f, -radius, 0.0f, -radius - t);
        knob.pointer.applyTransform (juce::AffineTransform::rotation (toAngle)
                                         .translated (static_cast<float> (key.x) + static_cast<float> (key.width) * 0.5f,
                                                      static_cast<float> (key.y) + static_cast<float> (key.height) * 0.5f));
        return knob;
    }

    /** The outlines for the key, from the few knobs drawn last. */
    const KnobOutlines& cachedKnob (const KnobKey& key)
    {
        for (auto& entry : knobCache)
            if (entry.used && entry.key == key)
                return entry.outlines;

        auto& entry = knobCache[nextKnobEntry];
        nextKnobEntry = (nextKnobEntry + 1) % knobCache.size();
        entry = { true, key, makeKnob (key) };
        return entry.outlines;
    }

    struct KnobEntry
    {
        bool used = false;
        KnobKey key;
        KnobOutlines outlines;
    };

    // The window shows at most four knobs at once.
    std::array<KnobEntry, 8> knobCache {};
    size_t nextKnobEntry = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OtherLookAndFeel)
};
