#pragma once

#include <vector>

#include "platform/ui/UIControl.h"

namespace testkit {

// Listens to every control event of a control and keeps them in order:
//   ControlEventLog log(control); touch(); EXPECT_EQ(log.events, ...);
class ControlEventLog {
public:
    explicit ControlEventLog(UIControl& control) : control_(control) {
        control.addTarget(this, [this](UIControl&, UIControlEvents e) { events.push_back(e); },
                          UIControlEvent::allEvents);
    }
    ~ControlEventLog() { control_.removeTarget(this); }
    ControlEventLog(const ControlEventLog&) = delete;
    ControlEventLog& operator=(const ControlEventLog&) = delete;

    std::vector<UIControlEvents> events;

private:
    UIControl& control_;
};

}  // namespace testkit
