#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "Orvo_Halden_Extension/OrvoHaldenView.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/ControlEvents.h"

namespace editor {

using Report = std::pair<NSInteger, float>;
using Reports = std::vector<Report>;

class FakeController : public OrvoHaldenViewOwner {
public:
    std::shared_ptr<Orvo_Halden_Extension_AudioUnit> audioUnit() const override { return unit; }
    void setTouchesLocked(bool locked) override { touchesLocked = locked; }

    std::shared_ptr<Orvo_Halden_Extension_AudioUnit> unit;
    bool touchesLocked = false;
};

class RecordingDelegate : public OrvoHaldenViewDelegate {
public:
    void onOrvoHaldenViewParameter(NSInteger address, float value) override { reports.push_back({address, value}); }
    void onOrvoHaldenViewOption(NSInteger, float) override {}
    Reports reports;
};

// An editor in a window, wired to a fake controller and a recording delegate,
// mapped once at `scale` (design points to view points) so touches can land,
// with no hotspot laid down yet.
class Editor {
public:
    explicit Editor(CGFloat designScale = 1, bool draw = true)
        : scale(designScale),
          window(std::make_shared<UIWindow>(CGRect(0, 0, 2000, 2000))),
          view(std::make_shared<OrvoHaldenView>(CGRect(0, 0, 680 * designScale, 600 * designScale))),
          delegate(std::make_shared<RecordingDelegate>()),
          events(*view) {
        window->addSubview(view);
        view->setViewController(controller);
        view->setDelegate(delegate);
        if (draw)
            model().mapCanvas(view->bounds(), OrvoHaldenViewBase::ResizingBehavior1::fit);
    }

    OrvoHaldenViewBase& model() { return view->baseClass(); }
    // A hotspot path: a rectangle in design (or strip) coordinates.
    void place(std::shared_ptr<UIBezierPath> OrvoHaldenViewBase::*path, const CGRect& rect) {
        model().*path = UIBezierPath::rect(rect);
    }

    // Touches at design points.
    CGPoint onScreen(CGPoint design) const { return {design.x * scale, design.y * scale}; }
    void down(CGPoint design) { touch = window->touchDown(onScreen(design)); }
    void move(CGPoint design) { window->touchMove(touch, onScreen(design)); }
    void up(CGPoint design) { window->touchUp(touch, onScreen(design)); }
    void up() { window->touchUp(touch); }
    void cancel() { window->touchesCancel({touch}); }
    Reports takeReports() { return std::exchange(delegate->reports, {}); }
    std::vector<UIControlEvents> takeEvents() { return std::exchange(events.events, {}); }

    CGFloat scale;
    std::shared_ptr<FakeController> controller = std::make_shared<FakeController>();
    std::shared_ptr<UIWindow> window;
    std::shared_ptr<OrvoHaldenView> view;
    std::shared_ptr<RecordingDelegate> delegate;
    testkit::ControlEventLog events;
    std::shared_ptr<UITouch> touch;
};

}  // namespace editor
