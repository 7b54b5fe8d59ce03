#pragma once

#include <array>
#include <memory>

#include "Orvo_Halden_Extension/OrvoHaldenViewControllerLink.h"
#include "Orvo_Halden_Extension/ResizingBehavior.h"
#include "platform/graphics/UIColor.h"
#include "platform/ui/UIControl.h"

// Bands drawn, one line each.
inline constexpr int bandcount = 128;

// Factors of the last full mapping of the spectrum picture, (0, 0) before
// the first one. Main thread only.
extern CGSize SpectroViewScale;

// Draws the unit's chromatic spectrum as 128 lines hanging from the top of a
// 512 by 128 picture, each as long as its band is quiet. A band's shown level
// rises at once and falls by `lazy` per draw.
class SpectroViewBase {
public:
    using ResizingBehavior = ::ResizingBehavior<&SpectroViewScale>;

    // Held weakly: the controller owns the view that owns this.
    std::weak_ptr<OrvoHaldenViewControllerLink> viewController;
    std::shared_ptr<Orvo_Halden_Extension_AudioUnit> audioUnit() const;

    UIColor colorEmphasize{0.211, 0.52, 0.865, 1.0};
    CGFloat lazy = 0.01;

    // One frame into the current graphics context. Without a unit nothing is
    // drawn and the shown levels stay as they are.
    void draw(const CGRect& frame = {0, 0, 512, 128}, ResizingBehavior resizing = ResizingBehavior::fit);

    const std::array<CGFloat, bandcount>& values() const { return values_; }

private:
    std::array<CGFloat, bandcount> values_{};
};

// The spectrum under the editor. Takes no touches of its own.
class SpectroView : public UIControl {
public:
    explicit SpectroView(const CGRect& frame = {}) : UIControl(frame) {}

    std::shared_ptr<OrvoHaldenViewControllerLink> viewController() const { return viewController_.lock(); }
    void setViewController(std::weak_ptr<OrvoHaldenViewControllerLink> controller);
    std::shared_ptr<Orvo_Halden_Extension_AudioUnit> audioUnit() const;

    const SpectroViewBase& baseClass() const { return baseClass_; }

    void draw(const CGRect& rect) override;

private:
    std::weak_ptr<OrvoHaldenViewControllerLink> viewController_;
    SpectroViewBase baseClass_;
};
