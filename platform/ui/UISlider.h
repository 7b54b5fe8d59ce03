#pragma once

#include "platform/ui/UIControl.h"

// A horizontal slider: a touch sets the value by its place along the width,
// from minimumValue at the left edge to maximumValue at the right, and each
// change sends value-changed. Values set in code are held to the range.
class UISlider : public UIControl {
public:
    using UIControl::UIControl;

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
    void track(const UITouchSet& touches);

    float value_ = 0.5f;
    float minimumValue_ = 0.0f;
    float maximumValue_ = 1.0f;
};
