#pragma once

#include "platform/graphics/UIColor.h"
#include "platform/ui/UIControl.h"

// A horizontal slider: a touch sets the value by its place along the width,
// from minimumValue at the left edge to maximumValue at the right, and each
// change sends value-changed. Values set in code are held to the range.
//
// It draws a thin track across its middle, filled from the left edge to the
// value, and a round thumb at the value, where a touch would put it.
class UISlider : public UIControl {
public:
    using UIControl::UIControl;

    UIColor minimumTrackTintColor{0.0, 0.48, 1.0, 1.0};  // the filled part, left of the thumb
    UIColor maximumTrackTintColor{0.78, 0.78, 0.8, 1.0};  // the rest of the track
    UIColor thumbTintColor = UIColor::white();

    void draw(const CGRect& rect) override;

    float value() const { return value_; }
    void setValue(float value);
    float minimumValue() const { return minimumValue_; }
    float maximumValue() const { return maximumValue_; }
    // A range given upside down is turned round; the value is held to it.
    void setRange(float minimum, float maximum);

    bool gestureRecognizerShouldBegin(const UIGestureRecognizer& recognizer) const override;
    void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
    void touchesMoved(const UITouchSet& touches, const UIEvent* event) override;
    void touchesEnded(const UITouchSet& touches, const UIEvent* event) override;
    void touchesCancelled(const UITouchSet& touches, const UIEvent* event) override;

private:
    // Where the value sits along the width, 0 at the left edge to 1 at the right.
    CGFloat position() const;
    void track(const UITouchSet& touches);

    float value_ = 0.5f;
    float minimumValue_ = 0.0f;
    float maximumValue_ = 1.0f;
};
