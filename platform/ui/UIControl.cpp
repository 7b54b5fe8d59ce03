#include "platform/ui/UIControl.h"

#include <utility>

void UIControl::addTarget(const void* target, Action action, UIControlEvents events) {
    if (action && events)
        targets_.push_back({target, std::move(action), events});
}

void UIControl::removeTarget(const void* target, UIControlEvents events) {
    for (auto& r : targets_)
        if (r.target == target)
            r.events &= ~events;
    std::erase_if(targets_, [](const Registration& r) { return r.events == 0; });
}

void UIControl::sendActions(UIControlEvents events) {
    const auto snapshot = targets_;
    for (const Registration& r : snapshot)
        if (const UIControlEvents matched = r.events & events)
            r.action(*this, matched);
}

UIView* UIControl::hitTest(CGPoint point, const UIEvent* event) {
    return enabled_ ? UIView::hitTest(point, event) : nullptr;
}
