#include "platform/ui/UITouch.h"

#include <algorithm>

#include "platform/ui/UIWindow.h"

UIWindow* UITouch::window() const { return static_cast<UIWindow*>(window_.lock().get()); }

CGPoint UITouch::location(const UIView* view) const { return view ? view->convertFrom(location_, nullptr) : location_; }

CGPoint UITouch::previousLocation(const UIView* view) const {
    return view ? view->convertFrom(previous_, nullptr) : previous_;
}

void UITouchSet::insert(const std::shared_ptr<UITouch>& touch) {
    if (touch && !contains(touch.get()))
        touches_.push_back(touch);
}

bool UITouchSet::contains(const UITouch* touch) const {
    return std::any_of(touches_.begin(), touches_.end(), [touch](const auto& t) { return t.get() == touch; });
}
