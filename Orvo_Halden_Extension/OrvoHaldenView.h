#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"
#include "platform/audio/AudioTypes.h"
#include "platform/ui/UIControl.h"
#include "platform/ui/UITouch.h"

// Who hears about the changes the user makes in the editor.
class OrvoHaldenViewDelegate {
public:
    virtual ~OrvoHaldenViewDelegate() = default;
    // Sent after the new value is in the editor's model, in the parameter's own units.
    virtual void onOrvoHaldenViewParameter(NSInteger address, float value) = 0;
    // Never sent by the editor.
    virtual void onOrvoHaldenViewOption(NSInteger address, float value) = 0;
};

// What the editor view asks of the controller that owns it: the unit (for
// the readout) and the touch lock that keeps the controller's pan gesture
// still while a control is held.
class OrvoHaldenViewOwner : public OrvoHaldenViewControllerLink {
public:
    virtual void setTouchesLocked(bool locked) = 0;
};

// The editor: shows the canvas model, mirrors parameter values into it and
// turns touches on the canvas into parameter values.
class OrvoHaldenView : public UIControl {
public:
    explicit OrvoHaldenView(const CGRect& frame = {});

    // Held weakly, as the model holds it: the controller owns this view.
    std::shared_ptr<OrvoHaldenViewOwner> viewController() const { return viewController_.lock(); }
    void setViewController(std::weak_ptr<OrvoHaldenViewOwner> controller);
    std::shared_ptr<Orvo_Halden_Extension_AudioUnit> audioUnit() const;

    std::shared_ptr<OrvoHaldenViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<OrvoHaldenViewDelegate> delegate) { delegate_ = std::move(delegate); }

    OrvoHaldenViewBase& baseClass() { return *baseClass_; }
    const OrvoHaldenViewBase& baseClass() const { return *baseClass_; }

    void setFocus(bool focus);
    void setContrast(CGFloat contrast);
    // Mirrors one parameter of the unit into the model; never reports back.
    void setParameter(NSInteger address, float value);

    void draw(const CGRect& rect) override;

    void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
    void touchesMoved(const UITouchSet& touches, const UIEvent* event) override;
    void touchesEnded(const UITouchSet& touches, const UIEvent* event) override;
    void touchesCancelled(const UITouchSet& touches, const UIEvent* event) override;

    // The state of the touch in progress.
    const std::string& hotspotMode() const { return hotspotMode_; }
    CGPoint startLocation() const { return startLocation_; }
    CGFloat startValue() const { return startValue_; }
    CGFloat startValue2() const { return startValue2_; }
    CGFloat scaler() const { return scaler_; }
    NSInteger lastCurrentMode() const { return lastCurrentMode_; }

    using UIControl::hitTest;

private:
    // Overridable, so a derived editor can test its own hotspots.
    virtual void setHotspotMode(CGPoint location);
    virtual bool hitTest(CGPoint location, const UIBezierPath& path) const;

    // The touch in design points of the canvas, none while the canvas has no
    // usable scale (before its first draw) or the point is not a number.
    std::optional<CGPoint> designPoint(const UITouch& touch) const;
    void touchDownAction();
    void dragAction(CGFloat dx, CGFloat dy);
    void moveCrosshair(CGPoint design);
    void report(NSInteger address, float value) const;
    void setTouchesLocked(bool locked) const;

    std::weak_ptr<OrvoHaldenViewOwner> viewController_;
    std::weak_ptr<OrvoHaldenViewDelegate> delegate_;
    std::unique_ptr<OrvoHaldenViewBase> baseClass_ = std::make_unique<OrvoHaldenViewBase>();
    std::string hotspotMode_;
    CGPoint startLocation_;
    CGFloat startValue_ = 0;
    CGFloat startValue2_ = 0;
    CGFloat scaler_ = 1.0;
    NSInteger lastCurrentMode_ = 2;
};
