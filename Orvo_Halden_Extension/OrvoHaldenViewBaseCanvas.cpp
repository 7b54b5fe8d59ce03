// The whole editor picture: frames, crosshair, band strip or allpass box,
// band label, band-mode buttons and logo, then the hit-test table.

#include "Orvo_Halden_Extension/CanvasPages.h"
#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"

using namespace canvas;

namespace {

constexpr const char* kBold = "HelveticaNeue-CondensedBold";

// The product's mark between the series and the product's name, at half
// strength: a tall stroke, which its box may cut without harm.
constexpr const char* kProductMark = "/";

// The logo's words stand on one line. Our condensed face runs wider than
// the one the logo was laid out for, so a word wider than its box is
// narrowed to fit instead of breaking into two clipped halves.
void drawWord(const std::string& word, const CGRect& box, const char* font, CGFloat size,
              const UIColor& colour, NSTextAlignment alignment, CGFloat groupAlpha) {
    const NSStringAttributes attributes{UIFont(font, size), colour, {alignment}};
    const NSString text(word);
    const CGRect line = text.boundingRect({0, 0}, attributes);
    if (!(line.width() > box.width())) {
        drawText(word, box, font, size, colour, alignment, groupAlpha);
        return;
    }
    const StateScope narrowed;
    if (!narrowed) return;
    CGContext& context = narrowed.context();
    context.setAlpha(groupAlpha);
    context.clip(box);
    context.translateBy(box.minX(), box.minY() + (box.height() - line.height()) / 2);
    context.scaleBy(box.width() / line.width(), 1);
    // No width: the line is laid out whole, never wrapped.
    text.draw({0, 0, 0, line.height()}, attributes);
}

void modeButton(const char* label, const CGRect& rect, const UIColor& color) {
    strokeRound(*UIBezierPath::roundedRect(rect, 3), 1, color);
    drawText(label, rect, kBold, 10, color, NSTextAlignment::center);
}

} // namespace

void OrvoHaldenViewBase::draw(const CGRect& frame, ResizingBehavior1 resizing) {
    const SymbolScope scope(mapCanvas(frame, resizing), kCanvasSize);

    const UIColor contrastHalf = colorContrastHalf();
    const UIColor emphasizeHalf = colorEmphasizeHalf();
    const UIColor emphasizeSoft = colorEmphasizeSoft();
    // The band mode that is on shows in the accent colour, the other one not.
    const UIColor colorMultiband = isAllpass ? colorContrast : colorEmphasize;
    const bool isMultiband = !isAllpass;
    const UIColor colorAllpass = isAllpass ? colorEmphasize : colorContrast;
    const CGFloat crossY = 180 + 188 * valueVertical;
    const CGFloat crossX = 20 + 640 * valueHorizontal;

    const auto backdrop = UIBezierPath::roundedRect({20, 389, 640, 188}, 4);
    fill(*backdrop, emphasizeSoft);
    strokeRound(*backdrop, 2, colorMultiband);
    strokeRound(*UIBezierPath::roundedRect({20, 182, 640, 188}, 4), 2, colorMultiband);

    // The crosshair is not clipped: at the extremes it reaches past the frame.
    if (isCrossVisible) {
        // Each part about its own origin; the vertical hair leans a little.
        const auto at = [](CGFloat x, CGFloat y, auto&& part) {
            const StateScope moved;
            if (!moved) return;
            moved.context().translateBy(x, y);
            part();
        };
        at(crossX, crossY, [&] {
            const CGRect square{-50, -50, 100, 100};
            strokeRound(*UIBezierPath::ovalIn(square), 2, emphasizeSoft);
            drawText("+", square, "HelveticaNeue", 22, colorContrast, NSTextAlignment::center);
        });
        const auto hair = [&](CGPoint end) {
            const auto line = UIBezierPath::make();
            line->moveTo({0, 0});
            line->addLineTo(end);
            strokeRound(*line, 2, emphasizeSoft);
        };
        at(crossX, 181.5, [&] { hair({0.24, 185.5}); });
        at(22, crossY, [&] { hair({636, 0}); });
    }

    placeSymbol({0, 160, 680, 440}, [&](const CGRect& area) { drawSymbolControls(area, kStretch); });

    if (isMultiband) {
        placeSymbol({0, 70, 680, 100}, [&](const CGRect& strip) { drawSymbolRanges(strip, kStretch); });
    } else {
        const CGRect box{20, 78, 640, 85};
        strokeRound(*UIBezierPath::roundedRect(box, 4), 2, colorContrast);
        drawText("ALLPASS", box, kBold, 12, contrastHalf, NSTextAlignment::center);
    }

    // A mode outside the four bands names none.
    drawText(captionBand(currentMode), {300, 236, 80, 80}, kBold, 36, contrastHalf, NSTextAlignment::center,
             0.8);

    modeButton("ALLPASS", {237.25, 28.25, 100, 24}, colorAllpass);
    modeButton("MULTI BAND", {343.25, 28.25, 100, 24}, colorMultiband);

    drawWord("ORVO", {20, 13, 168, 55}, "HelveticaNeue-CondensedBlack", 48, colorEmphasize,
             NSTextAlignment::left, 0.8);
    drawWord("Kest", {603, 21, 57, 24}, kBold, 22, colorEmphasize, NSTextAlignment::right, 0.8);
    drawWord(kProductMark, {592, 19, 32, 42}, kBold, 69, emphasizeHalf, NSTextAlignment::center, 1);
    drawWord("[ VANTAGE ]", {509, 21, 94, 24}, kBold, 22, colorEmphasize, NSTextAlignment::left, 0.8);

    placeSymbol({0, 0, kCanvasSize.width, kCanvasSize.height},
                [&](const CGRect& whole) { drawSymbolHotspots(whole, ResizingBehavior1::stretch); });
}
