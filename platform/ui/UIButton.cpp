#include "platform/ui/UIButton.h"

#include "platform/graphics/CGContext.h"
#include "platform/graphics/NSString.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UITouch.h"

void UIButton::draw(const CGRect&) {
    CGContext* context = UIGraphicsGetCurrentContext();
    const CGRect area = bounds();
    if (!context || title_.empty() || area.width() < 2 || area.height() < 2)
        return;
    context->saveGState();
    const CGFloat grey = isHighlighted() ? 0.42 : 0.26;
    const CGRect plate{area.minX() + 0.5, area.minY() + 0.5, area.width() - 1, area.height() - 1};
    const auto path = UIBezierPath::roundedRect(plate, 6);
    context->setFillColor({grey, grey, grey + 0.02, isEnabled() ? 1.0 : 0.5});
    context->setStrokeColor({0.6, 0.6, 0.62, 1});
    path->fill();
    path->stroke();
    NSStringAttributes attributes;
    attributes.font = UIFont("HelveticaNeue", 14);
    attributes.foregroundColor = isEnabled() ? UIColor::white() : UIColor{1, 1, 1, 0.5};
    attributes.paragraphStyle.alignment = NSTextAlignment::center;
    const NSString text(title_);
    const CGSize room{area.width() - 8, area.height() - 2};
    CGRect box = text.boundingRect({room.width, 0}, attributes);
    // A small button keeps its whole title, in a smaller font.
    if (box.height() > room.height || box.width() > room.width) {
        attributes = text.fitting(room, attributes);
        box = text.boundingRect({room.width, 0}, attributes);
    }
    text.draw({area.minX() + 4, area.minY() + (area.height() - box.height()) / 2, area.width() - 8, box.height()},
              attributes);
    context->restoreGState();
}

bool UIButton::inside(const UITouchSet& touches) const {
    const UITouch* touch = touches.first();
    return touch && bounds().contains(touch->location(this));
}

void UIButton::touchesBegan(const UITouchSet&, const UIEvent*) {
    setHighlighted(true);
    setNeedsDisplay();
    sendActions(UIControlEvent::touchDown);
}

void UIButton::touchesMoved(const UITouchSet& touches, const UIEvent*) {
    const bool over = inside(touches);
    setHighlighted(over);
    sendActions(over ? UIControlEvent::touchDragInside : UIControlEvent::touchDragOutside);
}

void UIButton::touchesEnded(const UITouchSet& touches, const UIEvent*) {
    setHighlighted(false);
    setNeedsDisplay();
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
