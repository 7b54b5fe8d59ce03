#include "Orvo_Halden_Extension/PluginFrameEx.h"

#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIBezierPath.h"

CGSize PluginFrameViewScale{1, 1};

void PluginFrameBaseEx::draw(const CGRect& frame, ResizingBehavior resizing) {
    CGContext* context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    context->saveGState();
    const CGRect design{0, 0, frame.width(), frame.height()};
    const CGRect r = resizing.apply(design, frame);
    context->translateBy(r.minX(), r.minY());
    context->scaleBy(r.width() / frame.width(), r.height() / frame.height());

    UIColor{contrast, contrast, contrast, 1.0}.setFill();
    UIBezierPath::roundedRect({2, 2, frame.width() - 4, frame.height() - 4}, 4.0)->fill();
    context->restoreGState();
}

void PluginFrameEx::draw(const CGRect& rect) {
    baseClass_.contrast = contrast;
    baseClass_.mainColor = mainColor;
    baseClass_.draw(rect, PluginFrameBaseEx::ResizingBehavior::fit);
}
