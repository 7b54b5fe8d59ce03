#include "platform/graphics/UIFont.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <map>
#include <mutex>
#include <utility>

#include "platform/graphics/PangoText.h"

namespace {

constexpr const char* kFallbackFamily = "DejaVu Sans";

bool containsNoCase(std::string_view text, std::string_view word) {
    return std::search(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           }) != text.end();
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && containsNoCase(a, b);
}

// "Family-Face" names: the family picks the installed family, the face words
// its width, weight and slant.
FontFace requestedFace(std::string_view name) {
    const size_t dash = name.find('-');
    const std::string_view family = name.substr(0, dash);
    const std::string_view faceWords = dash == std::string_view::npos ? std::string_view{} : name.substr(dash + 1);

    FontFace face;
    const bool helvetica = equalNoCase(family, "HelveticaNeue") || equalNoCase(family, "Helvetica Neue") ||
                           equalNoCase(family, "Helvetica") || equalNoCase(family, "Arial");
    if (helvetica)
        face.family = containsNoCase(faceWords, "Condensed") ? "Nimbus Sans Narrow" : "Nimbus Sans";
    else
        face.family = family.empty() ? kFallbackFamily : std::string(family);

    // Longer words first: "UltraLight" holds "Light".
    static constexpr std::array<std::pair<const char*, int>, 9> weights{{{"UltraLight", 200},
                                                                         {"ExtraLight", 200},
                                                                         {"Thin", 100},
                                                                         {"Light", 300},
                                                                         {"Medium", 500},
                                                                         {"Bold", 700},
                                                                         {"Heavy", 900},
                                                                         {"Black", 900},
                                                                         {"Regular", 400}}};
    for (const auto& [word, weight] : weights) {
        if (containsNoCase(faceWords, word)) {
            face.weight = weight;
            break;
        }
    }
    face.italic = containsNoCase(faceWords, "Italic") || containsNoCase(faceWords, "Oblique");
    return face;
}

bool installed(const std::string& family, FcConfig* config) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    bool found = false;
    FcChar8* matched = nullptr;
    for (int i = 0; match && !found && FcPatternGetString(match, FC_FAMILY, i, &matched) == FcResultMatch; ++i)
        found = equalNoCase(reinterpret_cast<const char*>(matched), family);
    if (match)
        FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    return found;
}

}  // namespace

FontFace resolveFontFace(std::string_view name, FcConfig* config) {
    FontFace face = requestedFace(name);
    if (!installed(face.family, config))
        face.family = kFallbackFamily;
    return face;
}

namespace {

// Font lookups go to disk-backed fontconfig tables; a name maps to the same
// face for the life of the process.
FontFace cachedFace(std::string_view name) {
    static std::mutex mutex;
    static std::map<std::string, FontFace, std::less<>> faces;
    std::lock_guard lock(mutex);
    if (auto it = faces.find(name); it != faces.end())
        return it->second;
    return faces.emplace(std::string(name), resolveFontFace(name)).first->second;
}

}  // namespace

UIFont::UIFont(std::string_view name, CGFloat size)
    : name_(name), face_(cachedFace(name)), size_(std::isfinite(size) && size > 0 ? size : 12) {}

std::string UIFont::loadedFaceDescription() const {
    PangoContext* context = pangotext::context();
    PangoFont* font = pango_context_load_font(context, pangotext::describe(*this).get());
    if (!font)
        return {};
    pangotext::Description loaded(pango_font_describe(font));
    g_object_unref(font);
    // The size as loaded is in device units; name the face alone.
    pango_font_description_unset_fields(loaded.get(), PANGO_FONT_MASK_SIZE);
    char* text = pango_font_description_to_string(loaded.get());
    std::string description = text ? text : "";
    g_free(text);
    return description;
}

namespace pangotext {

PangoContext* context() {
    struct Owned {
        PangoContext* context = nullptr;
        Owned() {
            context = pango_font_map_create_context(pango_cairo_font_map_get_default());
            pango_cairo_context_set_resolution(context, 72);
            cairo_font_options_t* options = cairo_font_options_create();
            cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
            cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
            pango_cairo_context_set_font_options(context, options);
            cairo_font_options_destroy(options);
            pango_context_set_round_glyph_positions(context, FALSE);
        }
        ~Owned() {
            g_object_unref(context);
            pango_cairo_font_map_set_default(nullptr);
        }
    };
    thread_local Owned owned;
    return owned.context;
}

Description describe(const UIFont& font) {
    Description d(pango_font_description_new());
    pango_font_description_set_family(d.get(), font.familyName().c_str());
    pango_font_description_set_weight(d.get(), PangoWeight(font.face().weight));
    pango_font_description_set_style(d.get(), font.face().italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_font_description_set_absolute_size(d.get(), font.pointSize() * PANGO_SCALE);
    return d;
}

}  // namespace pangotext
