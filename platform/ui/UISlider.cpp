#include "platform/ui/UISlider.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UITouch.h"

void UISlider::setValue(float value) {
    // Not a number says nothing.
    if (std::isnan(value))
        return;
    value = std::clamp(value, minimumValue_, maximumValue_);
    if (value != value_)
        setNeedsDisplay();
    value_ = value;
}

void UISlider::setRange(float minimum, float maximum) {
    if (std::isnan(minimum) || std::isnan(maximum))
        return;
    if (maximum < minimum)
        std::swap(minimum, maximum);
    minimumValue_ = minimum;
    maximumValue_ = maximum;
    value_ = std::clamp(value_, minimumValue_, maximumValue_);
    setNeedsDisplay();
}

void UISlider::track(const UITouchSet& touches) {
    const UITouch* touch = touches.first();
    const CGFloat width = bounds().width();
    if (!touch || !(width > 0))
        return;
    const CGFloat position = std::clamp((touch->location(this).x - bounds().minX()) / width, 0.0, 1.0);
    if (std::isnan(position))
        return;
    setValue(minimumValue_ + static_cast<float>(position) * (maximumValue_ - minimumValue_));
    sendActions(UIControlEvent::valueChanged);
}

void UISlider::touchesBegan(const UITouchSet& touches, const UIEvent*) {
    setHighlighted(true);
    sendActions(UIControlEvent::touchDown);
    track(touches);
}

void UISlider::touchesMoved(const UITouchSet& touches, const UIEvent*) { track(touches); }

void UISlider::touchesEnded(const UITouchSet& touches, const UIEvent*) {
    setHighlighted(false);
    const UITouch* touch = touches.first();
    sendActions(touch && bounds().contains(touch->location(this)) ? UIControlEvent::touchUpInside
                                                                   : UIControlEvent::touchUpOutside);
}

void UISlider::touchesCancelled(const UITouchSet&, const UIEvent*) {
    setHighlighted(false);
    sendActions(UIControlEvent::touchCancel);
}

bool UISlider::gestureRecognizerShouldBegin(const UIGestureRecognizer& recognizer) const {
    return recognizer.view() == this;
}
