// The band strip: three ranges split by two handles, a lamp per band, and the
// five hit-test paths of the strip (in strip coordinates).

#include <cmath>

#include "Orvo_Halden_Extension/CanvasPages.h"
#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"

using namespace canvas;

namespace {

constexpr const char* kLabelFont = "HelveticaNeue";
constexpr CGFloat kLabelSize = 7;
constexpr const char* kCaptionFont = "HelveticaNeue-CondensedBold";
constexpr CGFloat kCaptionSize = 12;

// A rectangle a split value outside every reason (NaN, infinite) made: it
// is neither drawn nor touchable.
OrvoHaldenViewBase::Path hotspot(const CGRect& rect) {
    const bool finite = std::isfinite(rect.origin.x) && std::isfinite(rect.origin.y) &&
                        std::isfinite(rect.size.width) && std::isfinite(rect.size.height);
    return finite ? UIBezierPath::rect(rect) : UIBezierPath::make();
}

struct Band {
    const char* name;
    CGRect label;
    CGRect onOff;
    CGRect led;
    CGRect caption;
};

// LP, BP, HP. The high band's lamp row sits a point lower than the others.
const Band kBands[] = {
    {"lowpass", {47, 67, 40, 8}, {115, 67, 30, 8}, {96, 64, 12, 12}, {47, 22, 60, 14}},
    {"bandpass", {285, 67, 40, 8}, {353, 67, 30, 8}, {334, 64, 12, 12}, {310, 22, 60, 14}},
    {"highpass", {534, 68, 40, 8}, {602, 68, 30, 8}, {582, 65, 12, 12}, {572, 22, 60, 14}},
};

} // namespace

void OrvoHaldenViewBase::drawSymbolRanges(const CGRect& frame, ResizingBehavior resizing) {
    const SymbolScope strip(frame, kRangesSize, resizing);

    const UIColor emphasizeHalf = colorEmphasizeHalf();
    const UIColor emphasizeStrong = colorEmphasizeStrong();
    const UIColor contrastFaint = colorContrastFaint();
    const UIColor contrastHalf = colorContrastHalf();
    const CGFloat split1Position = valueSplit1 * 610 + 20;
    const CGFloat split2Position = valueSplit2 * 610 + 20;

    UIColor captionColor[3], rangeFill[3], ledFill[3], labelColor[3];
    for (int b = 0; b < 3; ++b) {
        const bool selected = isRangeSelected[b + 1];
        const bool active = isRangeActive[b + 1];
        captionColor[b] = selected ? colorEmphasize : contrastHalf;
        rangeFill[b] = selected ? emphasizeHalf : contrastFaint;
        ledFill[b] = active ? colorEmphasize : contrastFaint;
        labelColor[b] = active ? colorEmphasize : colorContrast;
    }

    // The ranges are the very paths the editor hit-tests.
    hotspotRangeLPPath = hotspot({20, 9, split1Position - 4, 48});
    hotspotRangeBPPath = hotspot({split1Position + 16, 9, split2Position - split1Position, 48});
    hotspotRangeHPPath = hotspot({split2Position + 16, 9, 644 - split2Position, 48});
    const Path ranges[3] = {hotspotRangeLPPath, hotspotRangeBPPath, hotspotRangeHPPath};
    for (int b = 0; b < 3; ++b) fill(*ranges[b], rangeFill[b]);

    strokeRound(*UIBezierPath::roundedRect({20, 7, 640, 85}, 4), 2, emphasizeStrong);

    for (int b = 0; b < 3; ++b) {
        const Band& band = kBands[b];
        drawText(band.name, band.label, kLabelFont, kLabelSize, labelColor[b], NSTextAlignment::right);
        drawText("on/off", band.onOff, kLabelFont, kLabelSize, colorContrast, NSTextAlignment::left);
        const auto led = UIBezierPath::ovalIn(band.led);
        fill(*led, ledFill[b]);
        strokeRound(*led, 2, colorContrast);
    }

    // Each handle lies over the caption to its left and under the one to its right.
    const auto caption = [&](int b) {
        drawText(kBands[b].name, kBands[b].caption, kCaptionFont, kCaptionSize, captionColor[b],
                 NSTextAlignment::center, 0.8);
    };
    const auto handle = [&](CGPoint centre, bool dragged) {
        controlGroup(centre, dragged, {-15.5, -21, 31, 42},
                     [&](const CGRect& symbol) { drawSymbolSplit(symbol, kStretch); });
    };
    caption(0);
    handle({split1Position + 15.5, 33}, isSplit1Active);
    caption(1);
    handle({split2Position + 15.39, 33}, isSplit2Active);
    caption(2);

    hotspotSplit1Path = hotspot({split1Position - 3, 0, 37, 70});
    hotspotSplit2Path = hotspot({split2Position - 2.94, 0, 37, 70});
}
