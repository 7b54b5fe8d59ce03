#include "platform/ui/UISlider.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UITouch.h"

void UISlider::setValue(float value) {
    // Not a number says nothing.
    if (!std::isnan(value))
        value_ = std::clamp(value, minimumValue_, maximumValue_);
    setNeedsDisplay();
}

void UISlider::setRange(float minimum, float maximum) {
    if (std::isnan(minimum) || std::isnan(maximum))
        return;
    if (maximum < minimum)
        std::swap(minimum, maximum);
    minimumValue_ = minimum;
    maximumValue_ = maximum;
    value_ = std::clamp(value_, minimumValue_, maximumValue_);
}

CGFloat UISlider::position() const {
    const float span = maximumValue_ - minimumValue_;
    return span > 0 ? std::clamp(CGFloat((value_ - minimumValue_) / span), 0.0, 1.0) : 0.0;
}

void UISlider::draw(const CGRect&) {
    CGContext* context = UIGraphicsGetCurrentContext();
    const CGRect area = bounds();
    if (!context || !(area.width() >= 2 && area.height() >= 2))
        return;
    context->saveGState();
    const CGFloat trackHeight = std::clamp(area.height() / 7, 2.0, 6.0);
    const CGFloat radius = std::min(area.height() / 2, 11.0);
    const CGFloat y = area.midY();
    const CGFloat x = area.minX() + position() * area.width();
    const CGRect trackRect{area.minX(), y - trackHeight / 2, area.width(), trackHeight};
    maximumTrackTintColor.setFill();
    UIBezierPath::roundedRect(trackRect, trackHeight / 2)->fill();
    minimumTrackTintColor.setFill();
    UIBezierPath::roundedRect({trackRect.minX(), trackRect.minY(), x - area.minX(), trackHeight}, trackHeight / 2)
        ->fill();
    // The thumb sits on the value: at the ends half of it lies past the edge,
    // so it stays under the finger that set it.
    const auto thumb = UIBezierPath::ovalIn({x - radius, y - radius, 2 * radius, 2 * radius});
    thumbTintColor.setFill();
    thumb->fill();
    context->setStrokeColor({0, 0, 0, isHighlighted() ? 0.5 : 0.3});
    thumb->lineWidth = 1;
    thumb->stroke();
    context->restoreGState();
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
    setNeedsDisplay();
    sendActions(UIControlEvent::valueChanged);
}

void UISlider::touchesBegan(const UITouchSet& touches, const UIEvent*) {
    setHighlighted(true);
    setNeedsDisplay();
    sendActions(UIControlEvent::touchDown);
    track(touches);
}

void UISlider::touchesMoved(const UITouchSet& touches, const UIEvent*) { track(touches); }

void UISlider::touchesEnded(const UITouchSet& touches, const UIEvent*) {
    setHighlighted(false);
    setNeedsDisplay();
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
