#include "Orvo_Halden_Extension/CanvasPages.h"

namespace canvas {

void drawText(const std::string& text, const CGRect& box, std::string_view font, CGFloat size,
              const UIColor& color, NSTextAlignment alignment, CGFloat groupAlpha) {
    StateScope group;
    if (group && groupAlpha != 1) group.context().setAlpha(groupAlpha);
    drawText(text, box, NSStringAttributes{UIFont(font, size), color, NSParagraphStyle{alignment}},
             TextPlacement::centred);
}

void drawLamp(const OrvoHaldenViewBase& model, const CGRect& oval, CGFloat switchValue) {
    const auto path = UIBezierPath::ovalIn(oval);
    fill(*path, switchValue == 1 ? model.colorEmphasize : model.colorContrastFaint());
    strokeRound(*path, 2, model.colorContrast);
}

} // namespace canvas
