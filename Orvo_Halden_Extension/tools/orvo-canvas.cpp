// orvo-canvas: draws the editor canvas from a given state into a PNG, so the
// picture can be checked without the app. Run with --help for the options.

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"

namespace {

using V = OrvoHaldenViewBase;

// The controls by the names the editor's hit test uses; a control may have
// a per-band value, a held flag, or both.
struct Control {
    const char* name;
    V::BandValues V::*value;
    bool V::*held;
};

const Control kControls[] = {
    {"freeze", &V::valueFreeze, nullptr},
    {"size", &V::valueSize, &V::isSizeActive},
    {"damp", &V::valueDamp, &V::isDampActive},
    {"dry", &V::valueDry, &V::isDryActive},
    {"wet", &V::valueWet, &V::isWetActive},
    {"width", &V::valueWidth, &V::isWidthActive},
    {"input", &V::valueInput, &V::isInputActive},
    {"output", &V::valueOutput, &V::isOutputActive},
    {"pan", &V::valuePan, &V::isPanActive},
    {"model", &V::valueModel, &V::isModelActive},
    {"predelay_onoff", &V::valuePreDelayOn, nullptr},
    {"predelay_tempo", &V::valuePreDelayTempo, &V::isPreDelayTempoActive},
    {"predelay_feedback", &V::valuePreDelayFeedback, &V::isPreDelayFeedbackActive},
    {"predelay_division", &V::valuePreDelayDivision, &V::isPreDelayDivisionActive},
    {"postdelay_onoff", &V::valuePostDelayOn, nullptr},
    {"postdelay_tempo", &V::valuePostDelayTempo, &V::isPostDelayTempoActive},
    {"postdelay_feedback", &V::valuePostDelayFeedback, &V::isPostDelayFeedbackActive},
    {"postdelay_division", &V::valuePostDelayDivision, &V::isPostDelayDivisionActive},
    {"shifter_onoff", &V::valueShifterOn, nullptr},
    {"shifter_mix", &V::valueShifterMix, &V::isShifterMixActive},
    {"shifter_amount", &V::valueShifterAmount, &V::isShifterAmountActive},
    {"shifter_mode", &V::valueShifterMode, &V::isShifterModeActive},
    {"shifter_connection", &V::valueShifterConnection, &V::isShifterConnectionActive},
    {"split1", nullptr, &V::isSplit1Active},
    {"split2", nullptr, &V::isSplit2Active},
};

const Control* findControl(std::string_view name) {
    for (const Control& control : kControls)
        if (name == control.name) return &control;
    return nullptr;
}

void usage(FILE* out) {
    std::fputs("usage: orvo-canvas [options] OUTPUT.png\n"
               "  --size WxH          picture size in points (default 680x600)\n"
               "  --scale N           pixels per point (default 1)\n"
               "  --page P            main, delays, shifters or a number (default main)\n"
               "  --band N            band shown and selected: 0 AP, 1 LP, 2 BP, 3 HP (default 2)\n"
               "  --allpass           full-band layout\n"
               "  --held NAME         a control drawn as held (size, dry, split1, predelay_tempo, ...)\n"
               "  --set NAME=VALUE    a value of the band shown (size, model, shifter_mode, ...),\n"
               "                      or split1=, split2=\n"
               "  --off BAND          switch a band off: 1, 2 or 3\n"
               "  --cross X,Y         crosshair position, 0..1 each; --no-cross hides it\n"
               "  --display TEXT      readout text (\\n separates lines)\n",
               out);
}

std::optional<double> number(std::string_view text) {
    const std::string s(text);
    char* end = nullptr;
    const double value = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0') return std::nullopt;
    return value;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "orvo-canvas: %s\n", message.c_str());
    usage(stderr);
    return 2;
}

std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    V model;
    CGSize size = V::kCanvasSize;
    double scale = 1;
    std::string output;
    std::optional<std::int64_t> band;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto next = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string_view(argv[++i]);
        };
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg == "--allpass") {
            model.isAllpass = true;
        } else if (arg == "--no-cross") {
            model.isCrossVisible = false;
        } else if (arg.starts_with("--")) {
            const auto value = next();
            if (!value) return fail("missing value after " + std::string(arg));
            if (arg == "--size") {
                const auto x = value->find('x');
                const auto w = x == std::string_view::npos ? std::nullopt : number(value->substr(0, x));
                const auto h = x == std::string_view::npos ? std::nullopt : number(value->substr(x + 1));
                if (!w || !h || !(*w > 0) || !(*h > 0) || *w > 8192 || *h > 8192)
                    return fail("bad size " + std::string(*value));
                size = {*w, *h};
            } else if (arg == "--scale") {
                const auto s = number(*value);
                if (!s || !(*s > 0) || *s > 8) return fail("bad scale " + std::string(*value));
                scale = *s;
            } else if (arg == "--page") {
                if (*value == "main")
                    model.currentView = 0;
                else if (*value == "delays")
                    model.currentView = 1;
                else if (*value == "shifters")
                    model.currentView = 2;
                else if (const auto p = number(*value))
                    model.currentView = *p;
                else
                    return fail("bad page " + std::string(*value));
            } else if (arg == "--band") {
                const auto b = number(*value);
                if (!b || *b < -1e9 || *b > 1e9) return fail("bad band " + std::string(*value));
                band = static_cast<std::int64_t>(*b);
            } else if (arg == "--held") {
                const Control* control = findControl(*value);
                if (!control || !control->held) return fail("no held control " + std::string(*value));
                model.*control->held = true;
            } else if (arg == "--off") {
                const auto b = number(*value);
                if (!b || !(*b == 1 || *b == 2 || *b == 3)) return fail("bad band " + std::string(*value));
                model.isRangeActive[static_cast<std::size_t>(*b)] = false;
            } else if (arg == "--cross") {
                const auto comma = value->find(',');
                const auto x =
                    comma == std::string_view::npos ? std::nullopt : number(value->substr(0, comma));
                const auto y =
                    comma == std::string_view::npos ? std::nullopt : number(value->substr(comma + 1));
                if (!x || !y) return fail("bad crosshair " + std::string(*value));
                model.valueHorizontal = *x;
                model.valueVertical = *y;
            } else if (arg == "--display") {
                model.labelDisplay = unescape(*value);
            } else if (arg == "--set") {
                const auto eq = value->find('=');
                const std::string_view name = value->substr(0, eq);
                const auto v = eq == std::string_view::npos ? std::nullopt : number(value->substr(eq + 1));
                if (!v) return fail("bad setting " + std::string(*value));
                if (name == "split1") {
                    model.valueSplit1 = *v;
                } else if (name == "split2") {
                    model.valueSplit2 = *v;
                } else {
                    const Control* control = findControl(name);
                    if (!control || !control->value) return fail("no value " + std::string(name));
                    // Every band gets it, so it shows whichever band is drawn.
                    (model.*control->value).fill(*v);
                }
            } else {
                return fail("unknown option " + std::string(arg));
            }
        } else if (output.empty()) {
            output = arg;
        } else {
            return fail("more than one output file");
        }
    }
    if (output.empty()) return fail("no output file");

    if (band) {
        model.currentMode = *band;
        model.isRangeSelected = {false, false, false, false};
        if (*band >= 0 && *band <= 3) model.isRangeSelected[static_cast<std::size_t>(*band)] = true;
    }

    ImageSurface surface(size, scale);
    if (surface.pixelWidth() == 0) return fail("picture too large or empty");
    surface.fill(UIColor::white());
    surface.draw([&](CGContext&) { model.draw(CGRect(0, 0, size.width, size.height)); });
    if (!surface.writePNG(output)) return 1;
    std::printf("orvo-canvas: %s, %d x %d pixels\n", output.c_str(), surface.pixelWidth(),
                surface.pixelHeight());
    return 0;
}
