#pragma once

class UIEvent;
class UITouchSet;

// Something that can take touches. What a responder does not handle goes on
// to its next responder (for a view, its superview), and stops where there is none.
class UIResponder {
public:
    UIResponder() = default;
    virtual ~UIResponder() = default;
    UIResponder(const UIResponder&) = delete;
    UIResponder& operator=(const UIResponder&) = delete;

    virtual UIResponder* nextResponder() const { return nullptr; }

    virtual void touchesBegan(const UITouchSet& touches, const UIEvent* event);
    virtual void touchesMoved(const UITouchSet& touches, const UIEvent* event);
    virtual void touchesEnded(const UITouchSet& touches, const UIEvent* event);
    virtual void touchesCancelled(const UITouchSet& touches, const UIEvent* event);
};
