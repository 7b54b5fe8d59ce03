#pragma once

#include <string>

#include "platform/ui/UIControl.h"

// A push button: highlighted while a touch that came down in it is over it,
// touch-up-inside when that touch lifts inside, touch-up-outside otherwise.
// Its look is its title and the view's alpha.
class UIButton : public UIControl {
public:
    using UIControl::UIControl;

    const std::string& title() const { return title_; }
    void setTitle(std::string title) {
        title_ = std::move(title);
        setNeedsDisplay();
    }

    // A button with a title draws it on a rounded plate, lighter while held;
    // one without draws nothing of its own.
    void draw(const CGRect& rect) override;

    bool gestureRecognizerShouldBegin(const UIGestureRecognizer& recognizer) const override;
    void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
    void touchesMoved(const UITouchSet& touches, const UIEvent* event) override;
    void touchesEnded(const UITouchSet& touches, const UIEvent* event) override;
    void touchesCancelled(const UITouchSet& touches, const UIEvent* event) override;

private:
    bool inside(const UITouchSet& touches) const;

    std::string title_;
};
