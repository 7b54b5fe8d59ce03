#include "Orvo_Halden_Extension/ChromaticLinesView.h"

#include <algorithm>

#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIBezierPath.h"

CGSize SpectroViewScale{};

namespace {

const CGRect kDesign{0, 0, 512, 128};

}  // namespace

std::shared_ptr<Orvo_Halden_Extension_AudioUnit> SpectroViewBase::audioUnit() const {
    const auto controller = viewController.lock();
    return controller ? controller->audioUnit() : nullptr;
}

void SpectroViewBase::draw(const CGRect& frame, ResizingBehavior resizing) {
    const auto unit = audioUnit();
    CGContext* context = UIGraphicsGetCurrentContext();
    if (!unit || !context)
        return;
    // Every request rescales the array in place: ask once per frame.
    const float* magnitudes = unit->getMagnitudes();
    if (!magnitudes)
        return;

    context->saveGState();
    const CGRect r = resizing.apply(kDesign, frame);
    context->translateBy(r.minX(), r.minY());
    context->scaleBy(r.width() / kDesign.width(), r.height() / kDesign.height());

    const CGFloat step = kDesign.width() / bandcount;
    for (int i = 0; i < bandcount; ++i) {
        // Not a number counts as silence.
        const float magnitude = magnitudes[i];
        const CGFloat value = magnitude > 0 ? std::min<CGFloat>(magnitude, 1.0) : 0.0;
        CGFloat& level = values_[static_cast<std::size_t>(i)];
        if (level > value)
            level -= lazy;
        else
            level = value;
        const CGFloat x = step * i;
        const CGFloat y = kDesign.height() - level * kDesign.height();
        UIBezierPath line;
        line.moveTo({x, 0});
        line.addLineTo({x, y});
        colorEmphasize.setStroke();
        line.lineWidth = 1.0;
        line.stroke();
    }
    context->restoreGState();
}

void SpectroView::setViewController(std::weak_ptr<OrvoHaldenViewControllerLink> controller) {
    viewController_ = controller;
    baseClass_.viewController = std::move(controller);
}

std::shared_ptr<Orvo_Halden_Extension_AudioUnit> SpectroView::audioUnit() const {
    const auto controller = viewController();
    return controller ? controller->audioUnit() : nullptr;
}

void SpectroView::draw(const CGRect&) { baseClass_.draw(bounds(), SpectroViewBase::ResizingBehavior::fit); }
