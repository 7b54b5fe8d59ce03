#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Orvo_Halden_Extension/OrvoHaldenViewControllerLink.h"
#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/graphics/UIColor.h"

class Orvo_Halden_Extension_AudioUnit;

// The names of the 128 MIDI keys, sharps only, middle C (60) as "C3".
class NoteNames {
public:
    NoteNames();

    std::vector<std::string> values;

    // Index of the first name equal to key (exact text), or -1.
    std::int64_t getKeyNumber(std::string_view key) const;
    // Whether the key's name carries a sharp; false for keys without a name.
    bool isBlackKey(std::int64_t key) const;
    // The key's name with the key held to the list, "" if the list is empty.
    std::string name(std::int64_t key) const;
};

// Horizontal and vertical factors of the last canvas mapping made with
// OrvoHaldenViewBase::ResizingBehavior1, one value for the whole module,
// (0, 0) until the first one. Main thread only.
extern CGSize OrvoHaldenViewScale;

// State model and drawing kit of the editor canvas: everything the 680 by 600
// picture shows, the hit-test paths of the picture drawn last, and the
// routines that draw it into the current graphics context. Main thread only.
class OrvoHaldenViewBase {
public:
    // Where a symbol's design rectangle lands inside a frame. The two rules
    // place alike; the canvas rule (ResizingBehavior1) also publishes the
    // factors it used as OrvoHaldenViewScale.
    template <bool PublishesScale> class Resizing {
    public:
        enum Case : int { fit = 0, fill = 1, stretch = 2, centre = 3 };

        constexpr Resizing(Case c = fit) : case_(c) {}
        // No case for a raw value outside 0..3.
        static constexpr std::optional<Resizing> fromRawValue(std::int64_t raw) {
            if (raw < fit || raw > centre) return std::nullopt;
            return Resizing(static_cast<Case>(raw));
        }
        constexpr int rawValue() const { return case_; }
        constexpr bool operator==(const Resizing&) const = default;

        // The rectangle that rect (the design rectangle) occupies in target.
        // A target equal to rect, or the zero rectangle, gives rect back and
        // publishes nothing.
        CGRect apply(const CGRect& rect, const CGRect& target) const;

    private:
        Case case_;
    };
    using ResizingBehavior = Resizing<false>;
    using ResizingBehavior1 = Resizing<true>;

    using BandValues = std::array<CGFloat, 4>;
    using BandFlags = std::array<bool, 4>;
    using Path = std::shared_ptr<UIBezierPath>;

    static constexpr CGSize kCanvasSize{680, 600};
    static constexpr CGSize kRangesSize{680, 100};
    static constexpr CGSize kControlsSize{680, 440};
    static constexpr CGSize kKnobSize{100, 100};
    static constexpr CGSize kModeButtonSize{80, 20};
    static constexpr CGSize kSlideSize{96, 46};
    static constexpr CGSize kSlide2Size{140, 46};
    static constexpr CGSize kSplitSize{31, 42};

    OrvoHaldenViewBase() = default;
    // A model may be subclassed to draw a symbol its own way.
    virtual ~OrvoHaldenViewBase() = default;

    // The editor's controller, held weakly; the model only passes its unit on.
    std::weak_ptr<OrvoHaldenViewControllerLink> viewController;
    // The controller's unit: absent without a controller or before it has one.
    std::shared_ptr<Orvo_Halden_Extension_AudioUnit> audioUnit() const;

    NoteNames noteNames;

    UIColor colorEmphasize{0.211, 0.52, 0.865, 1.0};
    UIColor colorContrast = UIColor::black();
    UIColor colorContrastInverted = UIColor::white();
    UIColor colorHotspots{0.742, 1.0, 0.513, 0.139};
    UIColor colorTransparent = UIColor::clear();

    // Band being edited: 0 AP, 1 LP, 2 BP, 3 HP; the index into every per-band array.
    std::int64_t currentMode = 2;
    bool isAllpass = false;
    // Split positions 0..1, used as they are (neither clamped nor ordered).
    CGFloat valueSplit1 = 0.25;
    CGFloat valueSplit2 = 0.75;
    std::string labelDisplay = "display\nline\n000";
    BandFlags isRangeSelected{false, false, true, false};
    BandFlags isRangeActive{true, true, true, true};
    bool isSplit1Active = false;
    bool isSplit2Active = false;
    bool isCrossVisible = true;
    CGFloat valueVertical = 0.5;
    CGFloat valueHorizontal = 0.5;
    // Page shown: exactly 0 main, 1 delays, 2 shifters; anything else none.
    CGFloat currentView = 0.0;

    // Per-band values as the editor shows them until the controller pushes
    // the unit's own (so some differ from the parameters' defaults). The
    // tempos are held as beats per minute / 240, the indexes as whole numbers.
    BandValues valueFreeze = filled(0.0);
    BandValues valueSize = filled(0.5);
    BandValues valueDamp = filled(0.0);
    BandValues valueDry = filled(0.0);
    BandValues valueWet = filled(1.0);
    BandValues valueWidth = filled(0.5);
    BandValues valueInput = filled(0.5);
    BandValues valueOutput = filled(0.5);
    BandValues valuePan = filled(0.5);
    BandValues valueModel = filled(1.0);
    BandValues valuePreDelayOn = filled(0.0);
    BandValues valuePostDelayOn = filled(0.0);
    BandValues valuePreDelayTempo = filled(0.5);
    BandValues valuePreDelayFeedback = filled(0.0);
    BandValues valuePreDelayDivision = filled(0.0);
    BandValues valuePostDelayTempo = filled(0.5);
    BandValues valuePostDelayFeedback = filled(0.0);
    BandValues valuePostDelayDivision = filled(0.0);
    BandValues valueShifterOn = filled(0.0);
    BandValues valueShifterMix = filled(0.0);
    BandValues valueShifterAmount = filled(0.0);
    BandValues valueShifterConnection = filled(1.0);
    BandValues valueShifterMode = filled(1.0);

    // True while the control is held; the page then draws it twice its size.
    bool isSizeActive = false;
    bool isDampActive = false;
    bool isDryActive = false;
    bool isWetActive = false;
    bool isWidthActive = false;
    bool isInputActive = false;
    bool isOutputActive = false;
    bool isPanActive = false;
    bool isModelActive = false;
    bool isShifterConnectionActive = false;
    bool isShifterMixActive = false;
    bool isShifterAmountActive = false;
    bool isShifterModeActive = false;
    bool isPreDelayTempoActive = false;
    bool isPreDelayFeedbackActive = false;
    bool isPreDelayDivisionActive = false;
    bool isPostDelayTempoActive = false;
    bool isPostDelayFeedbackActive = false;
    bool isPostDelayDivisionActive = false;

    // Hit-test regions of the picture drawn last: a rectangle, or an empty
    // path that nothing hits. Canvas coordinates, except the five strip paths
    // (range and split), which are in band-strip coordinates (canvas y - 70).
    // Each draw assigns new path objects; none is changed in place.
    Path hotspotActiveLPPath = UIBezierPath::make();
    Path hotspotActiveBPPath = UIBezierPath::make();
    Path hotspotActiveHPPath = UIBezierPath::make();
    Path hotspotCaption2Path = UIBezierPath::make();
    Path hotspotButtonAllpassPath = UIBezierPath::make();
    Path hotspotButtonMultibandPath = UIBezierPath::make();
    Path hotspotCaption1Path = UIBezierPath::make();
    Path hotspotMultiPath = UIBezierPath::make();
    Path hotspotMainPath = UIBezierPath::make();
    Path hotspotButtonMainViewPath = UIBezierPath::make();
    Path hotspotButtonDelaysViewPath = UIBezierPath::make();
    Path hotspotButtonShiftersViewPath = UIBezierPath::make();
    Path hotspotSizePath = UIBezierPath::make();
    Path hotspotDampPath = UIBezierPath::make();
    Path hotspotDryPath = UIBezierPath::make();
    Path hotspotWetPath = UIBezierPath::make();
    Path hotspotWidthPath = UIBezierPath::make();
    Path hotspotInputPath = UIBezierPath::make();
    Path hotspotOutputPath = UIBezierPath::make();
    Path hotspotFreezePath = UIBezierPath::make();
    Path hotspotPanPath = UIBezierPath::make();
    Path hotspotModelPath = UIBezierPath::make();
    Path hotspotPreDelayOnOffPath = UIBezierPath::make();
    Path hotspotPreDelayTempoPath = UIBezierPath::make();
    Path hotspotPreDelayFeedbackPath = UIBezierPath::make();
    Path hotspotPreDelayDivisionPath = UIBezierPath::make();
    Path hotspotPostDelayOnOffPath = UIBezierPath::make();
    Path hotspotPostDelayTempoPath = UIBezierPath::make();
    Path hotspotPostDelayTFeedbackPath = UIBezierPath::make();
    Path hotspotPostDelayDivisionPath = UIBezierPath::make();
    Path hotspotShifterModePath = UIBezierPath::make();
    Path hotspotShifterConnectionPath = UIBezierPath::make();
    Path hotspotShifterOnOffPath = UIBezierPath::make();
    Path hotspotShifterAmountPath = UIBezierPath::make();
    Path hotspotShifterMixPath = UIBezierPath::make();
    Path hotspotRangeLPPath = UIBezierPath::make();
    Path hotspotRangeBPPath = UIBezierPath::make();
    Path hotspotRangeHPPath = UIBezierPath::make();
    Path hotspotSplit1Path = UIBezierPath::make();
    Path hotspotSplit2Path = UIBezierPath::make();

    // currentMode held to 0..3: the index every per-band read uses, so a
    // stray mode never reads past a four-entry array.
    std::size_t currentBand() const;

    // Tints of the two base colours (same red, green and blue), made afresh.
    UIColor colorContrastFaint() const { return colorContrast.withAlphaComponent(0.1); }
    UIColor colorContrastHalf() const { return colorContrast.withAlphaComponent(0.5); }
    UIColor colorEmphasizeFaint() const { return colorEmphasize.withAlphaComponent(0.1); }
    UIColor colorEmphasizeSoft() const { return colorEmphasize.withAlphaComponent(0.2); }
    UIColor colorEmphasizeHalf() const { return colorEmphasize.withAlphaComponent(0.5); }
    UIColor colorEmphasizeStrong() const { return colorEmphasize.withAlphaComponent(0.8); }

    // Captions of per-band values. The value is truncated toward zero; a value
    // without a row (NaN and infinities included) gives the table's fallback.
    static std::string captionModel(CGFloat value);             // "" fallback
    static std::string captionDivision(CGFloat value);          // "-" fallback
    static std::string captionShifterMode(CGFloat value);       // "" fallback
    static std::string captionShifterConnection(CGFloat value); // "" fallback
    // "AP", "LP", "BP", "HP" for modes 0..3, "" for any other.
    static std::string captionBand(std::int64_t mode);

    // Maps the canvas into frame for a draw of the whole canvas and keeps the
    // factors used (mapped size / canvas size) as this model's canvasScale.
    CGRect mapCanvas(const CGRect& frame, ResizingBehavior1 resizing);
    // The factors of this model's last canvas draw, (0, 0) before the first.
    // Unlike OrvoHaldenViewScale it is (1, 1) for a draw into exactly the
    // canvas rectangle and is never overwritten by another editor's draw.
    CGSize canvasScale() const { return canvasScale_; }

    // Drawing into the current graphics context; every routine leaves the
    // context's state as it found it. Overridable: the model's own calls
    // to its symbols go through the override too.
    virtual void draw(const CGRect& frame = CGRect(0, 0, 680, 600),
                      ResizingBehavior1 resizing = ResizingBehavior1::fit);
    virtual void drawSymbolSplit(const CGRect& frame = CGRect(0, 0, 31, 42),
                                 ResizingBehavior resizing = ResizingBehavior::fit);
    virtual void drawSymbolRanges(const CGRect& frame = CGRect(0, 0, 680, 100),
                                  ResizingBehavior resizing = ResizingBehavior::fit);
    virtual void drawSymbolControls(const CGRect& frame = CGRect(0, 0, 680, 440),
                                    ResizingBehavior resizing = ResizingBehavior::fit);
    virtual void drawSymbolKnobUni(const CGRect& frame = CGRect(0, 0, 100, 100),
                                   ResizingBehavior resizing = ResizingBehavior::fit,
                                   const std::string& label = "knob", CGFloat value = 0, bool active = false);
    virtual void drawSymbolKnobBiDi(const CGRect& frame = CGRect(0, 0, 100, 100),
                                    ResizingBehavior resizing = ResizingBehavior::fit,
                                    const std::string& label = "knob", CGFloat value = 0.5, bool active = false);
    virtual void drawSymbolModeButton(const CGRect& frame = CGRect(0, 0, 80, 20),
                                      ResizingBehavior resizing = ResizingBehavior::fit, bool selected = false,
                                      const std::string& label = "button");
    virtual void drawSymbolSlide(const CGRect& frame = CGRect(0, 0, 96, 46),
                                 ResizingBehavior resizing = ResizingBehavior::fit, bool active = false,
                                 const std::string& label = "label");
    virtual void drawSymbolSlide2(const CGRect& frame = CGRect(0, 0, 140, 46),
                                  ResizingBehavior resizing = ResizingBehavior::fit, bool active = false,
                                  const std::string& label = "label");
    // Draws nothing: lays down the canvas hit-test paths of the page and band
    // mode shown (all but the five strip paths).
    virtual void drawSymbolHotspots(const CGRect& frame = CGRect(0, 0, 680, 600),
                                    ResizingBehavior1 resizing = ResizingBehavior1::fit);

private:
    static constexpr BandValues filled(CGFloat value) { return {value, value, value, value}; }

    CGSize canvasScale_{};
};

// The rules hash by their raw value, as they compare.
template <bool PublishesScale>
struct std::hash<OrvoHaldenViewBase::Resizing<PublishesScale>> {
    std::size_t operator()(const OrvoHaldenViewBase::Resizing<PublishesScale>& rule) const noexcept {
        return std::hash<int>{}(rule.rawValue());
    }
};
