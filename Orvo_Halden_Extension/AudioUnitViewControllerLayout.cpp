// Where the plug-in view sits in the root view, and the gestures that move,
// zoom and fit it.

#include "Orvo_Halden_Extension/AudioUnitViewController.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UISlider.h"

namespace {

// The rectangle scaled by `s` about its centre: to the origin, scaled, back,
// each step as an affine map of the rectangle.
CGRect scaledAboutCentre(const CGRect& r, CGFloat s) {
    const CGFloat mx = r.minX() + r.width() / 2, my = r.minY() + r.height() / 2;
    return CGAffineTransform::makeTranslation(mx, my).apply(
        CGAffineTransform::makeScale(s, s).apply(CGAffineTransform::makeTranslation(-mx, -my).apply(r)));
}

CGRect translated(const CGRect& r, CGPoint by) { return CGAffineTransform::makeTranslation(by.x, by.y).apply(r); }

constexpr CGFloat kPinchMinimumWidth = 128, kZoomMinimumWidth = 256, kMaximumWidth = 2048;

}  // namespace

void AudioUnitViewController::viewDidLayoutSubviews() {
    AUViewController::viewDidLayoutSubviews();
    if (!lockAutoLayout_)
        centerpluginView();
}

void AudioUnitViewController::centerpluginView() {
    const CGRect root = view()->bounds();
    resetpluginView(root.width(), root.height(), 0);
}

void AudioUnitViewController::resetpluginView(CGFloat w, CGFloat h, CGFloat inset) {
    if (!currentView_)
        return;
    const CGRect root = view()->bounds();
    const CGFloat W = w - 2 * inset, H = h - 2 * inset;
    if (H < W && fitToHeight) {
        const CGFloat width = H / ratio;
        currentView_->setFrame({root.width() * 0.5 - width * 0.5 + inset, inset, width, H});
    } else {
        // Also when a size is not a number: the width rules.
        const CGFloat height = W * ratio;
        currentView_->setFrame({inset, root.height() * 0.5 - height * 0.5, W, height});
    }
}

// A pan or pinch acts on its changes and its end only after a beginning it
// accepted: one whose beginning was refused (frozen, or a control held) must
// not apply the frame recorded by an earlier gesture when the lock goes
// during the gesture.
bool AudioUnitViewController::followGesture(UIGestureRecognizerState state, bool open, bool& accepted) {
    if (state == UIGestureRecognizerState::began)
        accepted = open;
    const bool follow = open && accepted;
    if (state == UIGestureRecognizerState::ended || state == UIGestureRecognizerState::cancelled)
        accepted = false;
    return follow;
}

void AudioUnitViewController::onPanGesture(UIPanGestureRecognizer& sender) {
    if (!followGesture(sender.state(), isSizeable_ && !touchesLocked_, panAccepted_) || !currentView_)
        return;
    switch (sender.state()) {
    case UIGestureRecognizerState::began:
        lockAutoLayout_ = true;
        controlFrame_ = currentView_->frame();
        break;
    case UIGestureRecognizerState::changed:
        currentView_->setFrame(translated(controlFrame_, sender.translationInView(view().get())));
        break;
    case UIGestureRecognizerState::ended:
        lockAutoLayout_ = false;
        controlFrame_ = currentView_->frame();
        touchesLocked_ = false;
        break;
    case UIGestureRecognizerState::cancelled:
        controlFrame_ = currentView_->frame();
        lockAutoLayout_ = false;
        touchesLocked_ = false;
        break;
    default: break;
    }
}

void AudioUnitViewController::onPinchGesture(UIPinchGestureRecognizer& sender) {
    const bool follow = followGesture(sender.state(), isSizeable_, pinchAccepted_);
    if (!isSizeable_)
        return;
    touchesLocked_ = false;  // every call while zooming is allowed, whatever its state
    if (!follow || !currentView_)
        return;
    switch (sender.state()) {
    case UIGestureRecognizerState::began:
        lockAutoLayout_ = true;
        controlFrame_ = currentView_->frame();
        break;
    case UIGestureRecognizerState::changed: {
        const CGRect r = scaledAboutCentre(controlFrame_, sender.scale);
        if (r.width() >= kPinchMinimumWidth && r.width() <= kMaximumWidth)
            currentView_->setFrame(r);
        break;
    }
    case UIGestureRecognizerState::ended:
        lockAutoLayout_ = false;
        controlFrame_ = currentView_->frame();
        break;
    case UIGestureRecognizerState::cancelled: lockAutoLayout_ = false; break;
    default: break;
    }
}

void AudioUnitViewController::onDoubleTapGesture(UITapGestureRecognizer&) {
    touchesLocked_ = false;
    const CGRect root = view()->bounds();
    resetpluginView(root.width(), root.height(), 0);
}

void AudioUnitViewController::onTapGesture(UITapGestureRecognizer&) {
    touchesLocked_ = false;
    if (currentView_)
        controlFrame_ = currentView_->frame();
}

void AudioUnitViewController::onlongPressGesture(UILongPressGestureRecognizer& sender) {
    if (sender.state() == UIGestureRecognizerState::began) {
        contrastButton->setHidden(!contrastButton->isHidden());
        freezeButton->setHidden(contrastButton->isHidden());
        if (contrastButton->isHidden()) {
            brightnessSlider->setHidden(true);
            touchesLocked_ = false;
        } else {
            touchesLocked_ = true;
        }
    } else if (sender.state() == UIGestureRecognizerState::ended) {
        contrastButton->setAlpha(1.0);
        touchesLocked_ = false;
    }
}

void AudioUnitViewController::doTranslationTransform(UIView& target, const CGRect& origin, CGPoint position) {
    target.setFrame(translated(origin, position));
    target.setNeedsDisplay();
}

void AudioUnitViewController::doScalingTransform(UIView& target, const CGRect& origin, CGFloat scaling) {
    const CGRect r = scaledAboutCentre(origin, scaling);
    if (r.width() >= kZoomMinimumWidth && r.width() <= kMaximumWidth) {
        target.setFrame(r);
        target.setNeedsDisplay();
    }
}
