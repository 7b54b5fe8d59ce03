#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/ui/UIView.h"

// Control events, one bit each, combined with |.
using UIControlEvents = std::uint32_t;
namespace UIControlEvent {
inline constexpr UIControlEvents touchDown = 1u << 0;
inline constexpr UIControlEvents touchDownRepeat = 1u << 1;
inline constexpr UIControlEvents touchDragInside = 1u << 2;
inline constexpr UIControlEvents touchDragOutside = 1u << 3;
inline constexpr UIControlEvents touchDragEnter = 1u << 4;
inline constexpr UIControlEvents touchDragExit = 1u << 5;
inline constexpr UIControlEvents touchUpInside = 1u << 6;
inline constexpr UIControlEvents touchUpOutside = 1u << 7;
inline constexpr UIControlEvents touchCancel = 1u << 8;
inline constexpr UIControlEvents valueChanged = 1u << 12;
inline constexpr UIControlEvents primaryActionTriggered = 1u << 13;
inline constexpr UIControlEvents allEvents = 0xFFFFFFFFu;
}  // namespace UIControlEvent

// A view that tells targets about what happens to it by control events. The
// subclass decides when to send which event; a disabled control takes no touches.
class UIControl : public UIView {
public:
    using UIView::UIView;

    // The action gets the control and the events of the send that it listens to.
    using Action = std::function<void(UIControl& sender, UIControlEvents events)>;

    // `target` only identifies the registration for removeTarget; it is never used.
    void addTarget(const void* target, Action action, UIControlEvents events);
    // Stops the target's actions for these events (its every action for none).
    void removeTarget(const void* target, UIControlEvents events = UIControlEvent::allEvents);
    // Calls every action registered for any of the events, in the order they
    // were added; an action may add or remove targets meanwhile.
    void sendActions(UIControlEvents events);

    // A control may look different in each state: a change asks for display.
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { setState(enabled_, enabled); }
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted) { setState(highlighted_, highlighted); }
    bool isSelected() const { return selected_; }
    void setSelected(bool selected) { setState(selected_, selected); }

    UIView* hitTest(CGPoint point, const UIEvent* event) override;

private:
    void setState(bool& flag, bool value) {
        if (flag != value)
            setNeedsDisplay();
        flag = value;
    }
    struct Registration {
        const void* target;
        Action action;
        UIControlEvents events;
    };
    std::vector<Registration> targets_;
    bool enabled_ = true;
    bool highlighted_ = false;
    bool selected_ = false;
};
