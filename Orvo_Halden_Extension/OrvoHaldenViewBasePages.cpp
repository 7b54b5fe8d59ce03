// The delays and shifters pages of the controls area.

#include "Orvo_Halden_Extension/CanvasPages.h"
#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"

namespace {

using V = OrvoHaldenViewBase;
using canvas::controlGroup;
using canvas::drawText;
using canvas::kStretch;

constexpr const char* kSmallFont = "HelveticaNeue";
constexpr const char* kTitleFont = "HelveticaNeue-CondensedBold";
const CGRect kKnobFrame{-50, -50, 100, 100};
const CGRect kSlideFrame{-48, -23, 96, 46};

// The two sections mirror each other in layout, though not in every number.
struct DelaySection {
    const char* title;
    CGRect titleBox;
    CGPoint tempo;
    V::BandValues V::*tempoValue;
    bool V::*tempoHeld;
    CGPoint feedback;
    V::BandValues V::*feedbackValue;
    bool V::*feedbackHeld;
    CGRect onOffBox;
    NSTextAlignment onOffAlignment;
    CGRect lamp;
    V::BandValues V::*onValue;
    CGPoint division;
    V::BandValues V::*divisionValue;
    bool V::*divisionHeld;
};

const DelaySection kDelaySections[] = {
    {"PRE DELAY",
     {174, 249, 118, 11},
     {184, 314},
     &V::valuePreDelayTempo,
     &V::isPreDelayTempoActive,
     {284, 314},
     &V::valuePreDelayFeedback,
     &V::isPreDelayFeedbackActive,
     {75, 309, 30, 10},
     NSTextAlignment::left,
     {52, 308, 12, 12},
     &V::valuePreDelayOn,
     {91.8, 264.7},
     &V::valuePreDelayDivision,
     &V::isPreDelayDivisionActive},
    {"POST DELAY",
     {387, 249, 118, 11},
     {396, 314},
     &V::valuePostDelayTempo,
     &V::isPostDelayTempoActive,
     {496, 314},
     &V::valuePostDelayFeedback,
     &V::isPostDelayFeedbackActive,
     {575, 309, 30, 11},
     NSTextAlignment::right,
     {617, 308, 12, 12},
     &V::valuePostDelayOn,
     {588, 265},
     &V::valuePostDelayDivision,
     &V::isPostDelayDivisionActive},
};

void drawDelaySection(V& model, const DelaySection& section) {
    const std::size_t band = model.currentBand();

    const bool tempoHeld = model.*section.tempoHeld;
    controlGroup(section.tempo, tempoHeld, kKnobFrame, [&](const CGRect& widget) {
        model.drawSymbolKnobBiDi(widget, kStretch, "tempo", (model.*section.tempoValue)[band], tempoHeld);
    });
    const bool feedbackHeld = model.*section.feedbackHeld;
    controlGroup(section.feedback, feedbackHeld, kKnobFrame, [&](const CGRect& widget) {
        model.drawSymbolKnobUni(widget, kStretch, "feedback", (model.*section.feedbackValue)[band],
                                feedbackHeld);
    });
    drawText("on/off", section.onOffBox, kSmallFont, 9, model.colorContrast, section.onOffAlignment);
    canvas::drawLamp(model, section.lamp, (model.*section.onValue)[band]);
    const bool divisionHeld = model.*section.divisionHeld;
    controlGroup(section.division, divisionHeld, kSlideFrame, [&](const CGRect& widget) {
        model.drawSymbolSlide(widget, kStretch, divisionHeld,
                              V::captionDivision((model.*section.divisionValue)[band]));
    });
    drawText(section.title, section.titleBox, kTitleFont, 12, model.colorContrast, NSTextAlignment::center);
}

} // namespace

namespace canvas {

void drawDelaysPage(V& model) {
    drawDelaySection(model, kDelaySections[0]);

    const auto divider = UIBezierPath::make();
    divider->moveTo({340.5, 264.5});
    divider->addCurveTo({340.5, 364.5}, {340.5, 265.35}, {340.5, 364.5});
    strokeRound(*divider, 0.5, model.colorContrast);

    drawDelaySection(model, kDelaySections[1]);
    drawText("DELAYS", {351, 378, 194, 27}, kTitleFont, 16, model.colorContrast, NSTextAlignment::center);
}

void drawShiftersPage(V& model) {
    const std::size_t band = model.currentBand();

    // The shift knob stands left of the mix knob, though drawn after it.
    controlGroup({395, 310}, model.isShifterMixActive, kKnobFrame, [&](const CGRect& widget) {
        model.drawSymbolKnobUni(widget, kStretch, "mix", model.valueShifterMix[band],
                                model.isShifterMixActive);
    });
    controlGroup({285, 310}, model.isShifterAmountActive, kKnobFrame, [&](const CGRect& widget) {
        model.drawSymbolKnobBiDi(widget, kStretch, "shift", model.valueShifterAmount[band],
                                 model.isShifterAmountActive);
    });
    controlGroup({161, 310}, model.isShifterModeActive, kSlideFrame, [&](const CGRect& widget) {
        model.drawSymbolSlide(widget, kStretch, model.isShifterModeActive,
                              V::captionShifterMode(model.valueShifterMode[band]));
    });
    controlGroup({519.8, 309.7}, model.isShifterConnectionActive, kSlideFrame, [&](const CGRect& widget) {
        model.drawSymbolSlide(widget, kStretch, model.isShifterConnectionActive,
                              V::captionShifterConnection(model.valueShifterConnection[band]));
    });
    drawText("on/off", {71, 261, 30, 10}, kSmallFont, 9, model.colorContrast, NSTextAlignment::left);
    drawLamp(model, {48, 260, 12, 12}, model.valueShifterOn[band]);
    // The title is fixed text; it does not follow the selectors.
    drawText("NO SHIFT / POST", {418, 377, 194, 29}, kTitleFont, 16, model.colorContrast,
             NSTextAlignment::center);
}

} // namespace canvas
