// The controls area: page buttons, the page shown, the display box; and the
// main page with the reverb's own controls.

#include <cmath>

#include "Orvo_Halden_Extension/CanvasPages.h"
#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"

using namespace canvas;

namespace {

using V = OrvoHaldenViewBase;

struct PageButton {
    const char* label;
    CGFloat page;
    CGPoint centre;
};

// 78 apart, the width of a button's body: neighbours touch at normal size.
const PageButton kPageButtons[] = {
    {"main", 0, {88, 387}},
    {"delays", 1, {166, 387}},
    {"shifters", 2, {244, 387}},
};
const CGRect kButtonFrame{-40, -10, 80, 20};

struct Knob {
    const char* label;
    bool bipolar;
    CGPoint centre;
    CGFloat size;
    V::BandValues V::*value;
    bool V::*held;
};

// The dry knob sits lower than the other large ones, in its own disc.
const Knob kMainKnobs[] = {
    {"size", false, {140, 309}, 100, &V::valueSize, &V::isSizeActive},
    {"damp", false, {240, 309}, 100, &V::valueDamp, &V::isDampActive},
    {"dry", false, {340, 332}, 100, &V::valueDry, &V::isDryActive},
    {"wet", false, {440, 309}, 100, &V::valueWet, &V::isWetActive},
    {"width", false, {540, 309}, 100, &V::valueWidth, &V::isWidthActive},
    {"input", false, {57.5, 275.5}, 50, &V::valueInput, &V::isInputActive},
    {"output", false, {622.5, 275.5}, 50, &V::valueOutput, &V::isOutputActive},
    {"pan", true, {622.5, 370.5}, 50, &V::valuePan, &V::isPanActive},
};

const CGRect kDisplayBox{406.5, 56.5, 216, 62};

// The readout: lines from the top of the box, right-aligned, cut off at
// the box where the face's lines are taller than the room for three.
void drawDisplay(const V& model) {
    const auto box = UIBezierPath::roundedRect(kDisplayBox, 4);
    fill(*box, model.colorEmphasizeFaint());
    model.colorContrastFaint().setStroke();
    box->stroke();

    const CGRect text{416.5, 66.5, 196, 42};
    const StateScope clipped;
    if (clipped) clipped.context().clip(text);
    NSString(model.labelDisplay)
        .draw(text, {UIFont("HelveticaNeue-Bold", 12), model.colorContrast,
                     NSParagraphStyle{NSTextAlignment::right}});
}

} // namespace

namespace canvas {

void drawMainPage(V& model) {
    const std::size_t band = model.currentBand();

    // The dry knob's backdrop: 280 degrees over the top, closed by the chord.
    const auto disc = UIBezierPath::make();
    disc->addArc({340, 332}, 50, 130 * kDegrees, 50 * kDegrees, true);
    fill(*disc, model.colorEmphasizeFaint());

    const auto outline = UIBezierPath::roundedRect({295, 242, 90, 29.5}, 4);
    model.colorEmphasizeHalf().setStroke();
    outline->stroke();
    // Any non-zero freeze value shows the button selected; it is never magnified.
    placeSymbol({300, 247, 80, 20}, [&](const CGRect& frame) {
        model.drawSymbolModeButton(frame, kStretch, model.valueFreeze[band] != 0, "freeze");
    });

    for (const Knob& knob : kMainKnobs) {
        const CGFloat value = (model.*knob.value)[band];
        const bool held = model.*knob.held;
        const CGRect frame{-knob.size / 2, -knob.size / 2, knob.size, knob.size};
        controlGroup(knob.centre, held, frame, [&](const CGRect& widget) {
            if (knob.bipolar)
                model.drawSymbolKnobBiDi(widget, kStretch, knob.label, value, held);
            else
                model.drawSymbolKnobUni(widget, kStretch, knob.label, value, held);
        });
    }

    const std::string caption = V::captionModel(model.valueModel[band]);
    controlGroup({491, 387}, model.isModelActive, {-70, -23, 140, 46}, [&](const CGRect& widget) {
        model.drawSymbolSlide2(widget, kStretch, model.isModelActive, caption);
    });
}

} // namespace canvas

void OrvoHaldenViewBase::drawSymbolControls(const CGRect& frame, ResizingBehavior resizing) {
    const SymbolScope area(frame, kControlsSize, resizing);

    // Exact comparisons: a page value between pages shows no page at all.
    for (const PageButton& button : kPageButtons) {
        const bool shown = currentView == button.page;
        controlGroup(button.centre, shown, kButtonFrame, [&](const CGRect& widget) {
            drawSymbolModeButton(widget, kStretch, shown, button.label);
        });
    }

    if (currentView == 2)
        drawShiftersPage(*this);
    else if (currentView == 1)
        drawDelaysPage(*this);
    else if (currentView == 0)
        drawMainPage(*this);

    drawDisplay(*this);
}
