#include "Orvo_Halden_Extension/CanvasDrawing.h"

namespace canvas {

StateScope::StateScope() : context_(UIGraphicsGetCurrentContext()) {
    if (context_)
        context_->saveGState();
}

StateScope::~StateScope() {
    if (context_)
        context_->restoreGState();
}

SymbolScope::SymbolScope(const CGRect& mapped, CGSize design) {
    if (!*this)
        return;
    context().translateBy(mapped.minX(), mapped.minY());
    context().scaleBy(mapped.width() / design.width, mapped.height() / design.height);
}

void drawText(const std::string& text, const CGRect& box, const NSStringAttributes& attributes,
              TextPlacement placement) {
    const NSString string(text);
    const CGFloat height = string.boundingRect({box.width(), INFINITY}, attributes).size.height;
    const CGFloat y = placement == TextPlacement::bottom ? box.minY() + box.height() - height
                                                         : box.minY() + (box.height() - height) / 2;
    StateScope state;
    if (!state)
        return;
    state.context().clip(box);
    string.draw({box.minX(), y, box.width(), height}, attributes);
}

void strokeRound(UIBezierPath& path, CGFloat lineWidth, const UIColor& color) {
    color.setStroke();
    path.lineWidth = lineWidth;
    path.lineCapStyle = CGLineCap::round;
    path.lineJoinStyle = CGLineJoin::round;
    path.stroke();
}

void fill(const UIBezierPath& path, const UIColor& color) {
    color.setFill();
    path.fill();
}

void drawArrowHead(CGPoint centre, CGFloat degrees, const CGPoint (&triangle)[3], const UIColor& color,
                   CGFloat lineWidth) {
    StateScope state;
    if (!state)
        return;
    state.context().translateBy(centre.x, centre.y);
    state.context().rotate(degrees * kDegrees);
    UIBezierPath path;
    path.moveTo(triangle[0]);
    path.addLineTo(triangle[1]);
    path.addLineTo(triangle[2]);
    path.close();
    fill(path, color);
    strokeRound(path, lineWidth, color);
}

}  // namespace canvas
