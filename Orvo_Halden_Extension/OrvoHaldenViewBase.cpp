#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "Orvo_Halden_Extension/ResizingBehavior.h"

CGSize OrvoHaldenViewScale{};

// ---- NoteNames ---------------------------------------------------------------

NoteNames::NoteNames() {
    static constexpr const char* kPitchClasses[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                                      "F#", "G",  "G#", "A",  "A#", "B"};
    values.reserve(128);
    for (int note = 0; note < 128; ++note)
        values.push_back(kPitchClasses[note % 12] + std::to_string(note / 12 - 2));
}

std::int64_t NoteNames::getKeyNumber(std::string_view key) const {
    const auto found = std::find(values.begin(), values.end(), key);
    return found == values.end() ? -1 : found - values.begin();
}

bool NoteNames::isBlackKey(std::int64_t key) const {
    if (key < 0 || key >= static_cast<std::int64_t>(values.size())) return false;
    return values[static_cast<std::size_t>(key)].find('#') != std::string::npos;
}

std::string NoteNames::name(std::int64_t key) const {
    if (values.empty()) return {};
    const auto last = static_cast<std::int64_t>(values.size()) - 1;
    return values[static_cast<std::size_t>(std::clamp<std::int64_t>(key, 0, last))];
}

// ---- Resizing rule -------------------------------------------------------------

template <bool PublishesScale>
CGRect OrvoHaldenViewBase::Resizing<PublishesScale>::apply(const CGRect& rect, const CGRect& target) const {
    // The hotspot pass maps the canvas onto itself and relies on the early
    // exit of the rule to leave the scale of the canvas draw in place.
    return resizedRect(case_, rect, target, PublishesScale ? &OrvoHaldenViewScale : nullptr);
}

template class OrvoHaldenViewBase::Resizing<false>;
template class OrvoHaldenViewBase::Resizing<true>;

CGRect OrvoHaldenViewBase::mapCanvas(const CGRect& frame, ResizingBehavior1 resizing) {
    const CGRect mapped = resizing.apply({0, 0, kCanvasSize.width, kCanvasSize.height}, frame);
    canvasScale_ = {mapped.width() / kCanvasSize.width, mapped.height() / kCanvasSize.height};
    return mapped;
}

// ---- State -----------------------------------------------------------------------

std::shared_ptr<Orvo_Halden_Extension_AudioUnit> OrvoHaldenViewBase::audioUnit() const {
    const auto controller = viewController.lock();
    return controller ? controller->audioUnit() : nullptr;
}

std::size_t OrvoHaldenViewBase::currentBand() const {
    return static_cast<std::size_t>(std::clamp<std::int64_t>(currentMode, 0, 3));
}

// ---- Captions --------------------------------------------------------------------

namespace {

// The row of a per-band value truncated toward zero. Range is checked in
// floating point first: converting NaN, an infinity or a huge value to an
// integer is undefined.
std::string caption(CGFloat value, std::span<const char* const> rows, const char* fallback) {
    if (!std::isfinite(value)) return fallback;
    const CGFloat row = std::trunc(value);
    if (row < 0 || row >= static_cast<CGFloat>(rows.size())) return fallback;
    return rows[static_cast<std::size_t>(row)];
}

constexpr const char* kModelCaptions[] = {"rev. model 1 (shorter)", "rev. model 2 (short)",
                                          "rev. model 3 (medium)", "rev. model 4 (long)",
                                          "rev. model 4 (longer)"};
constexpr const char* kDivisionCaptions[] = {"off",  "1/128", "1/96", "1/64", "1/48", "1/32", "1/24",
                                             "1/16", "1/12",  "1/8",  "1/6",  "1/4",  "1/3",  "1/2",
                                             "1/1",  "2/1",   "3/1",  "4/1",  "6/1",  "8/1"};
constexpr const char* kShifterModeCaptions[] = {"no shift", "freq. domain", "time domain", "bode"};
constexpr const char* kConnectionCaptions[] = {"pre", "post"};
constexpr const char* kBandCaptions[] = {"AP", "LP", "BP", "HP"};

} // namespace

std::string OrvoHaldenViewBase::captionModel(CGFloat value) { return caption(value, kModelCaptions, ""); }
std::string OrvoHaldenViewBase::captionDivision(CGFloat value) {
    return caption(value, kDivisionCaptions, "-");
}
std::string OrvoHaldenViewBase::captionShifterMode(CGFloat value) {
    return caption(value, kShifterModeCaptions, "");
}
std::string OrvoHaldenViewBase::captionShifterConnection(CGFloat value) {
    return caption(value, kConnectionCaptions, "");
}
std::string OrvoHaldenViewBase::captionBand(std::int64_t mode) {
    if (mode < 0 || mode > 3) return {};
    return kBandCaptions[mode];
}

// ---- Hotspot table ------------------------------------------------------------------

namespace {

struct Hotspot {
    OrvoHaldenViewBase::Path OrvoHaldenViewBase::*path;
    CGFloat x, y, width, height;
};

using V = OrvoHaldenViewBase;

constexpr Hotspot kPageButtons[] = {
    {&V::hotspotButtonMainViewPath, 49, 540, 78, 24},
    {&V::hotspotButtonDelaysViewPath, 127, 540, 78, 24},
    {&V::hotspotButtonShiftersViewPath, 205, 540, 78, 24},
};
constexpr Hotspot kMainPage[] = {
    {&V::hotspotSizePath, 90, 416, 100, 100},   {&V::hotspotDampPath, 190, 416, 100, 100},
    {&V::hotspotDryPath, 290, 440, 100, 100},   {&V::hotspotWetPath, 390, 416, 100, 100},
    {&V::hotspotWidthPath, 490, 416, 100, 100}, {&V::hotspotInputPath, 33, 409, 50, 50},
    {&V::hotspotOutputPath, 598, 409, 50, 50},  {&V::hotspotFreezePath, 301, 407, 80, 22},
    {&V::hotspotPanPath, 598, 504, 50, 50},     {&V::hotspotModelPath, 425, 527, 130, 39},
};
constexpr Hotspot kDelaysPage[] = {
    {&V::hotspotPostDelayDivisionPath, 535, 400, 106, 50},
    {&V::hotspotPostDelayTFeedbackPath, 447, 424, 100, 100},
    {&V::hotspotPostDelayTempoPath, 347, 424, 100, 100},
    {&V::hotspotPostDelayOnOffPath, 551, 460, 90, 29},
    {&V::hotspotPreDelayDivisionPath, 39, 400, 106, 50},
    {&V::hotspotPreDelayFeedbackPath, 234, 424, 100, 100},
    {&V::hotspotPreDelayTempoPath, 134, 424, 100, 100},
    {&V::hotspotPreDelayOnOffPath, 39, 460, 90, 29},
};
constexpr Hotspot kShiftersPage[] = {
    {&V::hotspotShifterModePath, 108, 444, 107, 51}, {&V::hotspotShifterConnectionPath, 465, 444, 107, 51},
    {&V::hotspotShifterOnOffPath, 42, 410, 70, 34},  {&V::hotspotShifterAmountPath, 236, 417, 100, 100},
    {&V::hotspotShifterMixPath, 344, 417, 100, 100},
};
constexpr Hotspot kBandSwitches[] = {
    {&V::hotspotActiveLPPath, 52, 131, 100, 20},
    {&V::hotspotActiveBPPath, 290, 131, 100, 20},
    {&V::hotspotActiveHPPath, 538, 131, 100, 20},
};
constexpr Hotspot kModeButtons[] = {
    {&V::hotspotButtonAllpassPath, 237, 28, 100, 24},
    {&V::hotspotButtonMultibandPath, 343, 29, 100, 24},
};
constexpr Hotspot kMultiband[] = {{&V::hotspotMultiPath, 20, 70, 640, 56}};
constexpr Hotspot kDisplayAndCaptions[] = {
    {&V::hotspotMainPath, 20, 182, 640, 188},
    {&V::hotspotCaption2Path, 509, 19, 151, 42},
    {&V::hotspotCaption1Path, 20, 19, 81, 39},
};

// Each pass gives every path of the group a new object: its rectangle while
// the group is shown, an empty path otherwise.
void layDown(V& model, std::span<const Hotspot> group, bool shown) {
    for (const Hotspot& spot : group)
        model.*spot.path =
            shown ? UIBezierPath::rect({spot.x, spot.y, spot.width, spot.height}) : UIBezierPath::make();
}

} // namespace

void OrvoHaldenViewBase::drawSymbolHotspots(const CGRect& frame, ResizingBehavior1 resizing) {
    // The paths are in canvas design points whatever the frame; the mapping
    // only publishes the scale of a frame other than the canvas itself.
    resizing.apply({0, 0, kCanvasSize.width, kCanvasSize.height}, frame);

    layDown(*this, kPageButtons, true);
    layDown(*this, kMainPage, currentView == 0);
    layDown(*this, kDelaysPage, currentView == 1);
    layDown(*this, kShiftersPage, currentView == 2);
    // The full-band picture shows no band switches, so none may be touched there.
    const bool multiband = !isAllpass;
    layDown(*this, kBandSwitches, multiband);
    layDown(*this, kModeButtons, true);
    layDown(*this, kMultiband, multiband);
    layDown(*this, kDisplayAndCaptions, true);
}
