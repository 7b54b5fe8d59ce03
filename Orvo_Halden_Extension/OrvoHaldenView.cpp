#include "Orvo_Halden_Extension/OrvoHaldenView.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "kernel/ParameterAddress.h"
#include "platform/ui/UITouch.h"

namespace {

using Model = OrvoHaldenViewBase;
using BandValues = Model::BandValues;
using Path = Model::Path;

// The integer part of a value meant to lie in 0...max, taken only after the
// value is held to that range in floating point; not a number counts as 0.
int wholePart(double value, int max) {
    if (!(value > 0))
        return 0;
    if (value >= max)
        return max;
    return static_cast<int>(value);
}

double clamp01(double value) { return std::clamp(value, 0.0, 1.0); }

// ---- Mirroring ----------------------------------------------------------

enum class Mirror { value, tempo, index };

struct BandBlock {
    int base;  // addresses base...base + 3 are bands 0 to 3
    BandValues Model::*field;
    Mirror kind;
    float max;  // largest index, for Mirror::index
};

constexpr BandBlock kBandBlocks[] = {
    {kReverbInput0, &Model::valueInput, Mirror::value, 0},
    {kReverbDry0, &Model::valueDry, Mirror::value, 0},
    {kReverbWet0, &Model::valueWet, Mirror::value, 0},
    {kReverbSize0, &Model::valueSize, Mirror::value, 0},
    {kReverbDamp0, &Model::valueDamp, Mirror::value, 0},
    {kReverbWidth0, &Model::valueWidth, Mirror::value, 0},
    {kReverbFreeze0, &Model::valueFreeze, Mirror::value, 0},
    {kReverbOutput0, &Model::valueOutput, Mirror::value, 0},
    {kReverbModel0, &Model::valueModel, Mirror::index, 4},
    {kReverbPan0, &Model::valuePan, Mirror::value, 0},
    {kReverbPreDelay0, &Model::valuePreDelayOn, Mirror::value, 0},
    {kReverbPreDelayTempo0, &Model::valuePreDelayTempo, Mirror::tempo, 0},
    {kReverbPreDelayDivision0, &Model::valuePreDelayDivision, Mirror::index, 19},
    {kReverbPreDelayFeedback0, &Model::valuePreDelayFeedback, Mirror::value, 0},
    {kReverbPostDelay0, &Model::valuePostDelayOn, Mirror::value, 0},
    {kReverbPostDelayTempo0, &Model::valuePostDelayTempo, Mirror::tempo, 0},
    {kReverbPostDelayDivision0, &Model::valuePostDelayDivision, Mirror::index, 19},
    {kReverbPostDelayFeedback0, &Model::valuePostDelayFeedback, Mirror::value, 0},
    {kReverbShift0, &Model::valueShifterOn, Mirror::value, 0},
    {kReverbShiftConnection0, &Model::valueShifterConnection, Mirror::index, 1},
    {kReverbShiftAmount0, &Model::valueShifterAmount, Mirror::value, 0},
    {kReverbShiftMix0, &Model::valueShifterMix, Mirror::value, 0},
    {kReverbShiftMode0, &Model::valueShifterMode, Mirror::index, 3},
};

// ---- Hotspots -------------------------------------------------------------

struct Hotspot {
    const char* name;
    Path Model::*path;
};

// The band strip's elements, tested in strip coordinates (canvas y less 70).
constexpr Hotspot kStripHotspots[] = {
    {"split1", &Model::hotspotSplit1Path},     {"split2", &Model::hotspotSplit2Path},
    {"range_lp", &Model::hotspotRangeLPPath},  {"range_bp", &Model::hotspotRangeBPPath},
    {"range_hp", &Model::hotspotRangeHPPath},
};
constexpr Hotspot kPanelHotspots[] = {
    {"active_lp", &Model::hotspotActiveLPPath},
    {"active_bp", &Model::hotspotActiveBPPath},
    {"active_hp", &Model::hotspotActiveHPPath},
    {"caption2", &Model::hotspotCaption2Path},
    {"allpass", &Model::hotspotButtonAllpassPath},
    {"multiband", &Model::hotspotButtonMultibandPath},
    {"caption1", &Model::hotspotCaption1Path},
    {"main", &Model::hotspotMainPath},
    {"main_view", &Model::hotspotButtonMainViewPath},
    {"delays_view", &Model::hotspotButtonDelaysViewPath},
    {"shifters_view", &Model::hotspotButtonShiftersViewPath},
};
constexpr Hotspot kMainPageHotspots[] = {
    {"size", &Model::hotspotSizePath},   {"damp", &Model::hotspotDampPath},     {"dry", &Model::hotspotDryPath},
    {"wet", &Model::hotspotWetPath},     {"width", &Model::hotspotWidthPath},   {"input", &Model::hotspotInputPath},
    {"output", &Model::hotspotOutputPath}, {"pan", &Model::hotspotPanPath},     {"model", &Model::hotspotModelPath},
    {"freeze", &Model::hotspotFreezePath},
};
constexpr Hotspot kDelaysPageHotspots[] = {
    {"predelay_onoff", &Model::hotspotPreDelayOnOffPath},
    {"predelay_tempo", &Model::hotspotPreDelayTempoPath},
    {"predelay_feedback", &Model::hotspotPreDelayFeedbackPath},
    {"predelay_division", &Model::hotspotPreDelayDivisionPath},
    {"postdelay_onoff", &Model::hotspotPostDelayOnOffPath},
    {"postdelay_tempo", &Model::hotspotPostDelayTempoPath},
    {"postdelay_feedback", &Model::hotspotPostDelayTFeedbackPath},
    {"postdelay_division", &Model::hotspotPostDelayDivisionPath},
};
constexpr Hotspot kShiftersPageHotspots[] = {
    {"shifter_mode", &Model::hotspotShifterModePath},
    {"shifter_connection", &Model::hotspotShifterConnectionPath},
    {"shifter_onoff", &Model::hotspotShifterOnOffPath},
    {"shifter_amount", &Model::hotspotShifterAmountPath},
    {"shifter_mix", &Model::hotspotShifterMixPath},
};

// ---- Knobs, selectors and switches ---------------------------------------

// How a dragged value is written and sent.
enum class Drag {
    value,  // v as it is
    tempo,  // v kept, the whole BPM v × 240 sent
    index,  // n = whole part of v × divisor kept and sent
    model,  // 4 × v kept, the whole part sent at touch-up
};

struct Knob {
    const char* name;
    bool Model::*flag;
    BandValues Model::*values;
    int base;
    Drag drag;
    double divisor;  // start value = entry / divisor
    double sensitivity;  // the drag law's K
};

constexpr Knob kKnobs[] = {
    {"size", &Model::isSizeActive, &Model::valueSize, kReverbSize0, Drag::value, 1, 300},
    {"damp", &Model::isDampActive, &Model::valueDamp, kReverbDamp0, Drag::value, 1, 300},
    {"dry", &Model::isDryActive, &Model::valueDry, kReverbDry0, Drag::value, 1, 300},
    {"wet", &Model::isWetActive, &Model::valueWet, kReverbWet0, Drag::value, 1, 300},
    {"width", &Model::isWidthActive, &Model::valueWidth, kReverbWidth0, Drag::value, 1, 300},
    {"input", &Model::isInputActive, &Model::valueInput, kReverbInput0, Drag::value, 1, 300},
    {"output", &Model::isOutputActive, &Model::valueOutput, kReverbOutput0, Drag::value, 1, 300},
    {"pan", &Model::isPanActive, &Model::valuePan, kReverbPan0, Drag::value, 1, 300},
    {"model", &Model::isModelActive, &Model::valueModel, kReverbModel0, Drag::model, 4, 150},
    {"predelay_tempo", &Model::isPreDelayTempoActive, &Model::valuePreDelayTempo, kReverbPreDelayTempo0, Drag::tempo, 1, 300},
    {"predelay_feedback", &Model::isPreDelayFeedbackActive, &Model::valuePreDelayFeedback, kReverbPreDelayFeedback0, Drag::value, 1, 300},
    {"predelay_division", &Model::isPreDelayDivisionActive, &Model::valuePreDelayDivision, kReverbPreDelayDivision0, Drag::index, 19, 300},
    {"postdelay_tempo", &Model::isPostDelayTempoActive, &Model::valuePostDelayTempo, kReverbPostDelayTempo0, Drag::tempo, 1, 300},
    {"postdelay_feedback", &Model::isPostDelayFeedbackActive, &Model::valuePostDelayFeedback, kReverbPostDelayFeedback0, Drag::value, 1,
     300},
    {"postdelay_division", &Model::isPostDelayDivisionActive, &Model::valuePostDelayDivision, kReverbPostDelayDivision0, Drag::index, 19,
     300},
    {"shifter_mode", &Model::isShifterModeActive, &Model::valueShifterMode, kReverbShiftMode0, Drag::index, 3, 300},
    {"shifter_connection", &Model::isShifterConnectionActive, &Model::valueShifterConnection, kReverbShiftConnection0, Drag::index, 1,
     100},
    {"shifter_amount", &Model::isShifterAmountActive, &Model::valueShifterAmount, kReverbShiftAmount0, Drag::value, 1, 300},
    {"shifter_mix", &Model::isShifterMixActive, &Model::valueShifterMix, kReverbShiftMix0, Drag::value, 1, 300},
};

struct Switch {
    const char* name;
    BandValues Model::*values;
    int base;
};

constexpr Switch kSwitches[] = {
    {"freeze", &Model::valueFreeze, kReverbFreeze0},
    {"predelay_onoff", &Model::valuePreDelayOn, kReverbPreDelay0},
    {"postdelay_onoff", &Model::valuePostDelayOn, kReverbPostDelay0},
    {"shifter_onoff", &Model::valueShifterOn, kReverbShift0},
};

template <class Row, std::size_t N>
const Row* find(const Row (&rows)[N], const std::string& name) {
    for (const Row& row : rows)
        if (name == row.name)
            return &row;
    return nullptr;
}

// Band index of the strip's band hotspots and lamps: "..._lp" 1, "..._bp" 2, "..._hp" 3.
int bandOfName(const std::string& name, const char* prefix) {
    static constexpr const char* suffixes[] = {"lp", "bp", "hp"};
    for (int i = 0; i < 3; ++i)
        if (name == std::string(prefix) + suffixes[i])
            return i + 1;
    return 0;
}

// The drag law: the step d from the drag distances, and the value it gives
// from a start value. A start value that is not a number counts as 0.
float dragStep(CGFloat dx, CGFloat dy, CGFloat sensitivity) {
    double distance = dy - dx;
    if (std::isnan(distance))
        distance = 0;
    constexpr double kFloatMax = std::numeric_limits<float>::max();
    const float d = static_cast<float>(std::clamp(distance, -kFloatMax, kFloatMax)) / 2.0f /
                    static_cast<float>(sensitivity);
    return std::clamp(d, -1.0f, 1.0f);
}

double dragValue(double start, float step) { return clamp01((std::isnan(start) ? 0 : start) - double(step)); }

// Shortest text that reads back as the same float; whole numbers keep ".0".
std::string frequencyText(float f) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, f, std::chars_format::fixed);
    std::string text(buffer, result.ptr);
    if (std::isfinite(f) && text.find('.') == std::string::npos)
        text += ".0";
    return text;
}

}  // namespace

OrvoHaldenView::OrvoHaldenView(const CGRect& frame) : UIControl(frame) {
    // The canvas is dear to draw and changes only with the model, which asks
    // for display on every change: the spectrum's ticks show it as it was.
    setCachesDrawing(true);
}

void OrvoHaldenView::setViewController(std::weak_ptr<OrvoHaldenViewOwner> controller) {
    viewController_ = controller;
    baseClass_->viewController = std::move(controller);
}

std::shared_ptr<Orvo_Halden_Extension_AudioUnit> OrvoHaldenView::audioUnit() const {
    const auto controller = viewController();
    return controller ? controller->audioUnit() : nullptr;
}

void OrvoHaldenView::setFocus(bool) { setNeedsDisplay(); }

void OrvoHaldenView::setContrast(CGFloat contrast) {
    baseClass_->colorContrast = UIColor{1 - contrast, 1 - contrast, 1 - contrast, 1.0};
    baseClass_->colorContrastInverted = UIColor{contrast, contrast, contrast, 1.0};
    setNeedsDisplay();
}

void OrvoHaldenView::setParameter(NSInteger address, float value) {
    setNeedsDisplay();
    Model& m = *baseClass_;
    switch (address) {
    case kCurrentMode:
        // An index that is not a number says nothing; the rest is held to the bands in float first.
        if (!std::isnan(value))
            m.currentMode = wholePart(value, 3);
        return;
    case kSplit1: m.valueSplit1 = value; return;
    case kSplit2: m.valueSplit2 = value; return;
    case kActive1:
    case kActive2:
    case kActive3:
        m.isRangeActive[0] = true;
        m.isRangeActive[address - kActive1 + 1] = !(value < 0.5f);
        return;
    default: break;
    }
    for (const BandBlock& block : kBandBlocks) {
        if (address < block.base || address >= block.base + 4)
            continue;
        double& entry = (m.*block.field)[address - block.base];
        switch (block.kind) {
        case Mirror::value: entry = value; break;
        case Mirror::tempo: entry = value / 240.0f; break;
        case Mirror::index:
            if (!std::isnan(value))
                entry = std::clamp(value, 0.0f, block.max);
            break;
        }
        return;
    }
}

void OrvoHaldenView::draw(const CGRect&) {
    if (isHidden())
        return;
    // The canvas also lays down the hit-test paths and the scale touches use.
    baseClass_->draw(bounds(), Model::ResizingBehavior1::fit);
}

void OrvoHaldenView::report(NSInteger address, float value) const {
    if (auto d = delegate())
        d->onOrvoHaldenViewParameter(address, value);
}

void OrvoHaldenView::setTouchesLocked(bool locked) const {
    if (const auto controller = viewController())
        controller->setTouchesLocked(locked);
}

std::optional<CGPoint> OrvoHaldenView::designPoint(const UITouch& touch) const {
    const CGSize scale = baseClass_->canvasScale();
    if (!(scale.width > 0 && scale.height > 0 && std::isfinite(scale.width) && std::isfinite(scale.height)))
        return std::nullopt;
    const CGPoint p = touch.location(this);
    const CGPoint design{p.x / scale.width, p.y / scale.height};
    if (!std::isfinite(design.x) || !std::isfinite(design.y))
        return std::nullopt;
    return design;
}

bool OrvoHaldenView::hitTest(CGPoint location, const UIBezierPath& path) const { return path.contains(location); }

void OrvoHaldenView::setHotspotMode(CGPoint location) {
    const Model& m = *baseClass_;
    auto hits = [&](const Hotspot& h, CGPoint p) { return (m.*h.path) && hitTest(p, *(m.*h.path)); };
    hotspotMode_ = "";
    if (m.hotspotMultiPath && hitTest(location, *m.hotspotMultiPath)) {
        hotspotMode_ = "control";
        const CGPoint inStrip{location.x, location.y - 70};
        for (const Hotspot& h : kStripHotspots)
            if (hits(h, inStrip)) {
                hotspotMode_ = h.name;
                break;
            }
    } else {
        for (const Hotspot& h : kPanelHotspots)
            if (hits(h, location)) {
                hotspotMode_ = h.name;
                break;
            }
    }
    auto testPage = [&](const auto& page) {
        for (const Hotspot& h : page)
            if (hits(h, location)) {
                hotspotMode_ = h.name;
                return;
            }
    };
    if (m.currentView == 0)
        testPage(kMainPageHotspots);
    else if (m.currentView == 1)
        testPage(kDelaysPageHotspots);
    else if (m.currentView == 2)
        testPage(kShiftersPageHotspots);
    std::printf("%s\n", hotspotMode_.c_str());
}

void OrvoHaldenView::touchesBegan(const UITouchSet& touches, const UIEvent*) {
    if (!viewController() || !delegate())
        return;
    const UITouch* touch = touches.first();
    if (!touch)
        return;
    // The touch-down point is kept even when the canvas cannot place it; it
    // then lies outside the bounds and hits nothing.
    const std::optional<CGPoint> design = designPoint(*touch);
    const CGFloat nan = std::numeric_limits<CGFloat>::quiet_NaN();
    startLocation_ = design.value_or(CGPoint{nan, nan});
    setHotspotMode(startLocation_);
    if (hotspotMode_.empty()) {
        setTouchesLocked(false);
        return;
    }
    setTouchesLocked(true);
    touchDownAction();
    setNeedsDisplay();
    sendActions(UIControlEvent::touchDown);
}

void OrvoHaldenView::touchDownAction() {
    Model& m = *baseClass_;
    const auto b = baseClass_->currentBand();
    if (const Knob* k = find(kKnobs, hotspotMode_)) {
        m.*k->flag = true;
        startValue_ = (m.*k->values)[b] / k->divisor;
        return;
    }
    if (const Switch* s = find(kSwitches, hotspotMode_)) {
        double& entry = (m.*s->values)[b];
        entry = entry == 0 ? 1 : 0;
        report(s->base + b, static_cast<float>(entry));
        return;
    }
    if (hotspotMode_ == "split1" || hotspotMode_ == "split2") {
        const bool lower = hotspotMode_ == "split1";
        (lower ? m.isSplit1Active : m.isSplit2Active) = true;
        startValue_ = lower ? m.valueSplit1 : m.valueSplit2;
        return;
    }
    if (const int i = bandOfName(hotspotMode_, "active_")) {
        m.isRangeActive[0] = true;
        m.isRangeActive[i] = !m.isRangeActive[i];
        report(kActive1 + i - 1, m.isRangeActive[i] ? 1 : 0);
        return;
    }
    if (const int i = bandOfName(hotspotMode_, "range_")) {
        if (i == 2) {
            startValue_ = m.valueSplit1;
            startValue2_ = m.valueSplit2;
        }
        m.currentMode = i;
        lastCurrentMode_ = i;
        for (int j = 0; j < 4; ++j)
            m.isRangeSelected[j] = j == i;
        report(kCurrentMode, static_cast<float>(i));
        return;
    }
    if (hotspotMode_ == "allpass") {
        if (lastCurrentMode_ != 0)
            lastCurrentMode_ = m.currentMode;
        m.isAllpass = true;
        m.currentMode = 0;
        report(kCurrentMode, 0);
    } else if (hotspotMode_ == "multiband") {
        m.isAllpass = false;
        m.currentMode = lastCurrentMode_ != 0 ? lastCurrentMode_ : 2;
        report(kCurrentMode, static_cast<float>(m.currentMode));
    } else if (hotspotMode_ == "main_view") {
        m.currentView = 0;
    } else if (hotspotMode_ == "delays_view") {
        m.currentView = 1;
    } else if (hotspotMode_ == "shifters_view") {
        m.currentView = 2;
    } else if (hotspotMode_ == "main") {
        moveCrosshair(startLocation_);
    }
}

void OrvoHaldenView::moveCrosshair(CGPoint design) {
    Model& m = *baseClass_;
    m.valueHorizontal = clamp01((design.x - 20) / 640);
    m.valueVertical = clamp01((design.y - 182) / 188);
    const int note = wholePart(m.valueHorizontal * 127, 127);
    // Without a unit there is no frequency to show: the crosshair moves, the text stays.
    const auto unit = audioUnit();
    if (!unit)
        return;
    const float f = unit->getChromaticFrequency(note);
    m.labelDisplay = "Frequency: " + frequencyText(f) + " Hz\nMIDI Key: " + std::to_string(note) + " (" +
                     m.noteNames.name(note) + ")";
}

void OrvoHaldenView::touchesMoved(const UITouchSet& touches, const UIEvent*) {
    if (!viewController() || !delegate() || hotspotMode_.empty())
        return;
    const UITouch* touch = touches.first();
    if (!touch)
        return;
    // Before the canvas has a scale there is nowhere to move to.
    const std::optional<CGPoint> design = designPoint(*touch);
    if (!design)
        return;
    const CGSize scale = baseClass_->canvasScale();
    // The distance is divided by the scale a second time: that is the feel of the drag.
    const CGFloat dx = ((design->x - startLocation_.x) / scale.width) * scaler_;
    const CGFloat dy = ((design->y - startLocation_.y) / scale.height) * scaler_;
    if (hotspotMode_ == "main")
        moveCrosshair(*design);
    else
        dragAction(dx, dy);
    setNeedsDisplay();
    sendActions(UIControlEvent::valueChanged);
}

void OrvoHaldenView::dragAction(CGFloat dx, CGFloat dy) {
    Model& m = *baseClass_;
    const auto b = baseClass_->currentBand();
    if (const Knob* k = find(kKnobs, hotspotMode_)) {
        const double v = dragValue(startValue_, dragStep(dx, dy, k->sensitivity));
        double& entry = (m.*k->values)[b];
        switch (k->drag) {
        case Drag::value:
            entry = v;
            report(k->base + b, static_cast<float>(v));
            break;
        case Drag::tempo:
            entry = v;
            report(k->base + b, static_cast<float>(wholePart(v * 240, 240)));
            break;
        case Drag::index: {
            const int n = wholePart(v * k->divisor, static_cast<int>(k->divisor));
            entry = n;
            report(k->base + b, static_cast<float>(n));
            break;
        }
        case Drag::model: entry = 4 * v; break;
        }
        return;
    }
    const float step = dragStep(dx, dy, 300);
    // A handle stops at the other one and never pushes it; a host may have
    // put that one anywhere, so the stop is held to 0...1 as well.
    auto moveLower = [&](double start) {
        double v = dragValue(start, step);
        if (v > m.valueSplit2) {
            if (m.valueSplit1 == m.valueSplit2)
                return false;
            v = clamp01(m.valueSplit2);
        }
        m.valueSplit1 = v;
        report(kSplit1, static_cast<float>(v));
        return true;
    };
    auto moveUpper = [&](double start) {
        double v = dragValue(start, step);
        if (v < m.valueSplit1) {
            if (m.valueSplit1 == m.valueSplit2)
                return false;
            v = clamp01(m.valueSplit1);
        }
        m.valueSplit2 = v;
        report(kSplit2, static_cast<float>(v));
        return true;
    };
    if (hotspotMode_ == "split1")
        moveLower(startValue_);
    else if (hotspotMode_ == "split2")
        moveUpper(startValue_);
    else if (hotspotMode_ == "range_bp" && moveLower(startValue_))
        moveUpper(startValue2_);
}

void OrvoHaldenView::touchesEnded(const UITouchSet& touches, const UIEvent* event) {
    if (!viewController())
        return;
    touchesMoved(touches, event);
    Model& m = *baseClass_;
    if (const Knob* k = find(kKnobs, hotspotMode_)) {
        m.*k->flag = false;
        if (k->drag == Drag::model)
            report(k->base + baseClass_->currentBand(), static_cast<float>(wholePart((m.*k->values)[baseClass_->currentBand()], 4)));
    } else if (hotspotMode_ == "split1") {
        m.isSplit1Active = false;
    } else if (hotspotMode_ == "split2") {
        m.isSplit2Active = false;
    }
    hotspotMode_ = "";
    setTouchesLocked(false);
    setNeedsDisplay();
    sendActions(bounds().contains(startLocation_) ? UIControlEvent::touchUpInside : UIControlEvent::touchUpOutside);
}

void OrvoHaldenView::touchesCancelled(const UITouchSet&, const UIEvent*) {
    if (!viewController())
        return;
    setTouchesLocked(false);
    setNeedsDisplay();
    sendActions(UIControlEvent::touchCancel);
}
