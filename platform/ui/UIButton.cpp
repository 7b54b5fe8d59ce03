#include "platform/ui/UIButton.h"

#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UITouch.h"

bool UIButton::inside(const UITouchSet& touches) const {
    const UITouch* touch = touches.first();
    return touch && bounds().contains(touch->location(this));
}

void UIButton::touchesBegan(const UITouchSet&, const UIEvent*) {
    setHighlighted(true);
    sendActions(UIControlEvent::touchDown);
}

void UIButton::touchesMoved(const UITouchSet& touches, const UIEvent*) {
    const bool over = inside(touches);
    setHighlighted(over);
    sendActions(over ? UIControlEvent::touchDragInside : UIControlEvent::touchDragOutside);
}

void UIButton::touchesEnded(const UITouchSet& touches, const UIEvent*) {
    setHighlighted(false);
    sendActions(inside(touches) ? UIControlEvent::touchUpInside | UIControlEvent::primaryActionTriggered
                                : UIControlEvent::touchUpOutside);
}

void UIButton::touchesCancelled(const UITouchSet&, const UIEvent*) {
    setHighlighted(false);
    sendActions(UIControlEvent::touchCancel);
}

bool UIButton::gestureRecognizerShouldBegin(const UIGestureRecognizer& recognizer) const {
    return recognizer.view() == this;
}
