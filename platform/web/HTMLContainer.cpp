#include "platform/web/HTMLContainer.h"

#include <cairo.h>
#include <litehtml/el_anchor.h>
#include <litehtml/el_base.h>
#include <litehtml/el_body.h>
#include <litehtml/el_break.h>
#include <litehtml/el_div.h>
#include <litehtml/el_font.h>
#include <litehtml/el_image.h>
#include <litehtml/el_link.h>
#include <litehtml/el_para.h>
#include <litehtml/el_table.h>
#include <litehtml/el_td.h>
#include <litehtml/el_title.h>
#include <litehtml/el_tr.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/graphics/CGContext.h"
#include "platform/graphics/PangoText.h"
#include "platform/ui/UIImage.h"
#include "platform/web/HTMLFilter.h"

namespace litehtml {
// A list item, which numbers itself when laid out, as litehtml 0.6 builds
// it: its header is not installed.
class el_li : public html_tag {
public:
    explicit el_li(const std::shared_ptr<document>& doc);
    int render(int x, int y, int max_width, bool second_pass = false) override;

private:
    bool m_index_initialized = false;
};
}  // namespace litehtml

namespace {

constexpr int kMinimumFontSize = 1;
constexpr int kMaximumFontSize = 400;
constexpr int kMaximumTiles = 4096;
constexpr std::size_t kRememberedWidths = 65536;  // a repeated background stops here

struct LayoutFree {
    void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
using Layout = std::unique_ptr<PangoLayout, LayoutFree>;

CGContext* graphics(litehtml::uint_ptr hdc) { return reinterpret_cast<CGContext*>(hdc); }

void setColour(cairo_t* cr, const litehtml::web_color& c, CGFloat alpha) {
    cairo_set_source_rgba(cr, c.red / 255.0, c.green / 255.0, c.blue / 255.0, c.alpha / 255.0 * alpha);
}

// The families of a CSS list ("Nimbus Sans", Arial, sans-serif) as Pango
// takes them: comma separated, unquoted.
std::string families(const char* list) {
    std::string out;
    for (const char* c = list ? list : ""; *c; ++c)
        if (*c != '"' && *c != '\'')
            out += *c;
    return out.empty() ? "sans-serif" : out;
}

// Ascent and descent of a font, remembered: loading a font for its metrics
// costs more than laying out a page, and pages ask for the same few fonts.
std::pair<int, int> metricsOf(const PangoFontDescription* description) {
    constexpr std::size_t kRemembered = 256;
    thread_local std::map<std::string, std::pair<int, int>> known;
    char* text = pango_font_description_to_string(description);
    const std::string key = text ? text : "";
    g_free(text);
    if (const auto found = known.find(key); found != known.end())
        return found->second;
    PangoContext* context = pangotext::context();
    pango_context_set_matrix(context, nullptr);
    PangoFontMetrics* metrics = pango_context_get_metrics(context, description, nullptr);
    const std::pair<int, int> result{int(std::ceil(double(pango_font_metrics_get_ascent(metrics)) / PANGO_SCALE)),
                                     int(std::ceil(double(pango_font_metrics_get_descent(metrics)) / PANGO_SCALE))};
    pango_font_metrics_unref(metrics);
    if (known.size() >= kRemembered)
        known.clear();
    known.emplace(key, result);
    return result;
}

// Tables nested in tables: each lays its cells out more than once.
constexpr int kMaximumTables = 3;

bool isTable(litehtml::style_display display) {
    return display == litehtml::display_table || display == litehtml::display_inline_table;
}

bool isTablePart(litehtml::style_display display) {
    switch (display) {
    case litehtml::display_table_caption:
    case litehtml::display_table_cell:
    case litehtml::display_table_column:
    case litehtml::display_table_column_group:
    case litehtml::display_table_footer_group:
    case litehtml::display_table_header_group:
    case litehtml::display_table_row:
    case litehtml::display_table_row_group: return true;
    default: return false;
    }
}

// Where a table part belongs; anywhere else litehtml wraps it in the boxes
// it lacks, up to a table of its own.
bool inPlace(litehtml::style_display display, litehtml::style_display parent) {
    using namespace litehtml;
    switch (display) {
    case display_table_cell: return parent == display_table_row;
    case display_table_row:
        return isTable(parent) || parent == display_table_row_group || parent == display_table_header_group ||
               parent == display_table_footer_group;
    case display_table_column: return isTable(parent) || parent == display_table_column_group;
    default: return isTable(parent);
    }
}

// A table, or a part of one out of its place.
bool opensTable(const litehtml::element& element) {
    const litehtml::style_display display = element.get_display();
    if (isTable(display))
        return true;
    const litehtml::element::ptr parent = element.parent();
    return isTablePart(display) && !(parent && inPlace(display, parent->get_display()));
}

// Gives an element another display once its style is computed; the member
// is litehtml's, reached through a class of its kind.
struct Display : litehtml::html_tag {
    static void set(litehtml::element& element, litehtml::style_display display) {
        if (auto* tag = dynamic_cast<litehtml::html_tag*>(&element))
            tag->*(&Display::m_display) = display;
    }
};

}  // namespace

void boundTables(litehtml::element& top) {
    int around = 0;
    for (litehtml::element::ptr e = top.parent(); e; e = e->parent())
        around += opensTable(*e) ? 1 : 0;
    std::vector<std::pair<litehtml::element*, int>> pending{{&top, around}};
    while (!pending.empty()) {
        const auto [element, outside] = pending.back();
        pending.pop_back();
        const litehtml::style_display display = element->get_display();
        const int tables = outside + (opensTable(*element) ? 1 : 0);
        if (tables > kMaximumTables && (isTable(display) || isTablePart(display)))
            Display::set(*element, litehtml::display_block);
        for (int i = 0, n = int(element->get_children_count()); i < n; ++i)
            pending.emplace_back(element->get_child(i).get(), tables);
    }
}

namespace {

// An element of litehtml's kind held to the page's budgets: its computed
// font size is held (sizes in em compound from parent to child, and every
// length in em is taken from it), tables in it nest at most
// kMaximumTables deep, and its selector matching and layout count against
// the page's work.
template <class Element> class Bounded final : public Element {
public:
    explicit Bounded(const std::shared_ptr<litehtml::document>& doc)
        : Element(doc), container_(*static_cast<HTMLContainer*>(doc->container())) {}
    using Element::select;

    void init_font() override {
        Element::init_font();
        this->m_font_size = std::clamp(this->m_font_size, kMinimumFontSize, kMaximumFontSize);
    }

    // litehtml computes a parent's style, then its children's within the
    // same call: the outermost call bounds the tables of all.
    void parse_styles(bool is_reparse) override {
        ++container_.styling;
        Element::parse_styles(is_reparse);
        if (--container_.styling == 0)
            boundTables(*this);
    }

private:
    HTMLContainer& container_;
};

template <class Element>
std::shared_ptr<litehtml::element> bounded(const std::shared_ptr<litehtml::document>& doc) {
    return std::make_shared<Bounded<Element>>(doc);
}

}  // namespace

struct HTMLContainer::Font {
    pangotext::Description description;
    int ascent = 0;
    int descent = 0;
    unsigned decoration = 0;
};

HTMLContainer::HTMLContainer(std::optional<URL> baseURL, ImageRequest requestImage)
    : baseURL_(std::move(baseURL)), requestImage_(std::move(requestImage)) {}

HTMLContainer::~HTMLContainer() = default;

std::string HTMLContainer::resolve(const std::string& href) const {
    if (!baseURL_)
        return href;
    try {
        return litehtml::resolve(litehtml::url(baseURL_->absoluteString()), litehtml::url(href)).string();
    } catch (...) {
        return href;
    }
}

bool HTMLContainer::takeImagesChanged() { return std::exchange(imagesChanged_, false); }

void HTMLContainer::setImage(const URL& url, std::shared_ptr<UIImage> image) {
    const auto found = images_.find(url.absoluteString());
    if (found == images_.end() || !image)
        return;
    found->second = std::move(image);
    imagesChanged_ = true;
}

std::optional<HTMLContainer::Click> HTMLContainer::takeClick() { return std::exchange(click_, std::nullopt); }

litehtml::uint_ptr HTMLContainer::create_font(const char* faceName, int size, int weight, litehtml::font_style italic,
                                              unsigned int decoration, litehtml::font_metrics* fm) {
    auto font = std::make_unique<Font>();
    font->description.reset(pango_font_description_new());
    PangoFontDescription* d = font->description.get();
    pango_font_description_set_family(d, families(faceName).c_str());
    pango_font_description_set_absolute_size(d, std::clamp(size, kMinimumFontSize, kMaximumFontSize) * PANGO_SCALE);
    pango_font_description_set_weight(d, PangoWeight(std::clamp(weight, 100, 1000)));
    pango_font_description_set_style(d, italic == litehtml::fontStyleItalic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    font->decoration = decoration;
    const auto [ascent, descent] = metricsOf(d);
    font->ascent = ascent;
    font->descent = descent;
    if (fm) {
        fm->ascent = font->ascent;
        fm->descent = font->descent;
        fm->height = font->ascent + font->descent;
        fm->x_height = std::max(1, font->ascent / 2);
        fm->draw_spaces = decoration != litehtml::font_decoration_none;
    }
    fonts_.push_back(std::move(font));
    return reinterpret_cast<litehtml::uint_ptr>(fonts_.back().get());
}

// The elements litehtml makes itself, each held to the page's budgets.
// Left to litehtml: <style> and <script>, which are neither styled nor laid
// out. The boxes litehtml adds around table parts out of their place are
// its own too; their tables are bounded all the same.
std::shared_ptr<litehtml::element>
HTMLContainer::create_element(const char* tag, const litehtml::string_map&,
                              const std::shared_ptr<litehtml::document>& doc) {
    using namespace litehtml;
    const std::string_view name = tag ? tag : "";
    using Make = std::shared_ptr<element> (*)(const std::shared_ptr<document>&);
    static const std::map<std::string_view, Make> kinds = {
        {"a", bounded<el_anchor>},    {"base", bounded<el_base>}, {"body", bounded<el_body>},
        {"br", bounded<el_break>},    {"div", bounded<el_div>},   {"font", bounded<el_font>},
        {"img", bounded<el_image>},   {"li", bounded<el_li>},     {"link", bounded<el_link>},
        {"p", bounded<el_para>},
        {"table", bounded<el_table>}, {"td", bounded<el_td>},     {"th", bounded<el_td>},
        {"title", bounded<el_title>}, {"tr", bounded<el_tr>},
    };
    if (name == "style" || name == "script")
        return nullptr;
    const auto found = kinds.find(name);
    return found != kinds.end() ? found->second(doc) : bounded<html_tag>(doc);
}

void HTMLContainer::delete_font(litehtml::uint_ptr font) {
    widths_.clear();  // keyed by the font's address
    std::erase_if(fonts_, [font](const auto& f) { return reinterpret_cast<litehtml::uint_ptr>(f.get()) == font; });
}

int HTMLContainer::text_width(const char* text, litehtml::uint_ptr font) {
    const auto* f = reinterpret_cast<const Font*>(font);
    if (!f || !text || !*text)
        return 0;
    std::string key(reinterpret_cast<const char*>(&f), sizeof f);
    key += text;
    if (const auto found = widths_.find(key); found != widths_.end())
        return found->second;
    PangoContext* context = pangotext::context();
    pango_context_set_matrix(context, nullptr);
    const Layout layout(pango_layout_new(context));
    pango_layout_set_font_description(layout.get(), f->description.get());
    pango_layout_set_text(layout.get(), text, -1);
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    const int width = int(std::ceil(double(logical.width) / PANGO_SCALE));
    if (widths_.size() >= kRememberedWidths)
        widths_.clear();
    widths_.emplace(std::move(key), width);
    return width;
}

cairo_t* HTMLContainer::begin(CGContext& context) const {
    cairo_t* cr = context.cairo();
    cairo_save(cr);
    for (const litehtml::position& clip : clips_) {
        cairo_rectangle(cr, clip.x, clip.y, clip.width, clip.height);
        cairo_clip(cr);
    }
    return cr;
}

void HTMLContainer::draw_text(litehtml::uint_ptr hdc, const char* text, litehtml::uint_ptr font,
                              litehtml::web_color color, const litehtml::position& pos) {
    CGContext* g = graphics(hdc);
    const auto* f = reinterpret_cast<const Font*>(font);
    if (!g || !g->canDraw() || !f || !text || !*text)
        return;
    cairo_t* cr = begin(*g);
    PangoContext* context = pangotext::context();
    pango_cairo_update_context(cr, context);
    const Layout layout(pango_layout_new(context));
    pango_layout_set_font_description(layout.get(), f->description.get());
    pango_layout_set_text(layout.get(), text, -1);
    // Text comes in a box of the font's height; list numbers in one of the
    // line's height, where the font sits in the middle as the line's text does.
    const double baselineY = pos.y + (pos.height - f->ascent - f->descent) / 2.0 + f->ascent;
    const double top = baselineY - double(pango_layout_get_baseline(layout.get())) / PANGO_SCALE;
    setColour(cr, color, g->globalAlpha());
    cairo_new_path(cr);
    cairo_move_to(cr, pos.x, top);
    pango_cairo_show_layout(cr, layout.get());
    cairo_new_path(cr);
    // Lines of the text's decoration, a tenth of the ascent thick.
    const double thickness = std::max(1.0, f->ascent / 12.0);
    const auto line = [&](double y) {
        cairo_rectangle(cr, pos.x, y, text_width(text, font), thickness);
        cairo_fill(cr);
    };
    if (f->decoration & litehtml::font_decoration_underline)
        line(baselineY + thickness);
    if (f->decoration & litehtml::font_decoration_linethrough)
        line(baselineY - f->ascent * 0.3);
    if (f->decoration & litehtml::font_decoration_overline)
        line(baselineY - f->ascent);
    cairo_restore(cr);
}

int HTMLContainer::pt_to_px(int pt) const {
    // A CSS point is 4/3 of a CSS pixel, and a pixel here is a point of the view.
    return int(std::clamp<long long>(static_cast<long long>(pt) * 4 / 3, -1000000, 1000000));
}

void HTMLContainer::draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) {
    CGContext* g = graphics(hdc);
    if (!g || !g->canDraw())
        return;
    cairo_t* cr = begin(*g);
    setColour(cr, marker.color, g->globalAlpha());
    const litehtml::position& p = marker.pos;
    cairo_new_path(cr);
    switch (marker.marker_type) {
    case litehtml::list_style_type_circle:
        cairo_set_line_width(cr, 1);
        cairo_arc(cr, p.x + p.width / 2.0, p.y + p.height / 2.0, std::max(0.5, p.width / 2.0 - 0.5), 0, 2 * M_PI);
        cairo_stroke(cr);
        break;
    case litehtml::list_style_type_disc:
        cairo_arc(cr, p.x + p.width / 2.0, p.y + p.height / 2.0, p.width / 2.0, 0, 2 * M_PI);
        cairo_fill(cr);
        break;
    case litehtml::list_style_type_square:
        cairo_rectangle(cr, p.x, p.y, p.width, p.height);
        cairo_fill(cr);
        break;
    default: break;  // numbered markers come as text
    }
    cairo_new_path(cr);
    cairo_restore(cr);
}

std::optional<URL> HTMLContainer::imageURL(const char* src, const char* baseurl) const {
    if (!src || !*src)
        return std::nullopt;
    const std::string address = baseurl && *baseurl
                                    ? litehtml::resolve(litehtml::url(resolve(baseurl)), litehtml::url(src)).string()
                                    : resolve(src);
    return URL::string(address);
}

std::shared_ptr<UIImage> HTMLContainer::image(const char* src, const char* baseurl) const {
    const std::optional<URL> url = imageURL(src, baseurl);
    const auto found = url ? images_.find(url->absoluteString()) : images_.end();
    return found == images_.end() ? nullptr : found->second;
}

void HTMLContainer::load_image(const char* src, const char* baseurl, bool) {
    const std::optional<URL> url = imageURL(src, baseurl);
    if (!url || images_.size() >= kMostPagePictures || !images_.emplace(url->absoluteString(), nullptr).second)
        return;
    if (requestImage_)
        requestImage_(*url);
}

void HTMLContainer::get_image_size(const char* src, const char* baseurl, litehtml::size& sz) {
    const std::shared_ptr<UIImage> picture = image(src, baseurl);
    const CGSize size = picture ? picture->size() : CGSize{};
    sz.width = int(std::min<CGFloat>(size.width, 100000));
    sz.height = int(std::min<CGFloat>(size.height, 100000));
}

void HTMLContainer::draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) {
    CGContext* g = graphics(hdc);
    if (!g || !g->canDraw())
        return;
    cairo_t* cr = begin(*g);
    cairo_rectangle(cr, bg.clip_box.x, bg.clip_box.y, bg.clip_box.width, bg.clip_box.height);
    cairo_clip(cr);
    if (bg.color.alpha) {
        setColour(cr, bg.color, g->globalAlpha());
        cairo_paint(cr);
    }
    const std::shared_ptr<UIImage> picture = bg.image.empty() ? nullptr : image(bg.image.c_str(), bg.baseurl.c_str());
    const int w = bg.image_size.width, h = bg.image_size.height;
    if (picture && w > 0 && h > 0) {
        // The engine gives the first tile's place in page coordinates.
        const int x0 = bg.position_x, y0 = bg.position_y;
        const bool repeatX = bg.repeat == litehtml::background_repeat_repeat || bg.repeat == litehtml::background_repeat_repeat_x;
        const bool repeatY = bg.repeat == litehtml::background_repeat_repeat || bg.repeat == litehtml::background_repeat_repeat_y;
        const litehtml::position& box = bg.clip_box;
        // Tiles from the first that reaches into the box to the last.
        const long firstX = repeatX ? x0 - long(std::ceil(double(x0 - box.x) / w)) * w : x0;
        const long firstY = repeatY ? y0 - long(std::ceil(double(y0 - box.y) / h)) * h : y0;
        const long lastX = repeatX ? box.right() : x0, lastY = repeatY ? box.bottom() : y0;
        int tiles = 0;
        const UIGraphicsContextScope scope(*g);
        for (long y = firstY; y <= lastY && tiles < kMaximumTiles; y += h)
            for (long x = firstX; x <= lastX && tiles < kMaximumTiles; x += w, ++tiles)
                picture->draw({CGFloat(x), CGFloat(y), CGFloat(w), CGFloat(h)});
    }
    cairo_restore(cr);
}

void HTMLContainer::draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders,
                                 const litehtml::position& pos, bool) {
    CGContext* g = graphics(hdc);
    if (!g || !g->canDraw())
        return;
    cairo_t* cr = begin(*g);
    const auto side = [&](const litehtml::border& b, double x, double y, double w, double h) {
        if (b.width <= 0 || b.style == litehtml::border_style_none || b.style == litehtml::border_style_hidden)
            return;
        setColour(cr, b.color, g->globalAlpha());
        cairo_rectangle(cr, x, y, w, h);
        cairo_fill(cr);
    };
    side(borders.top, pos.x, pos.y, pos.width, borders.top.width);
    side(borders.bottom, pos.x, pos.bottom() - borders.bottom.width, pos.width, borders.bottom.width);
    side(borders.left, pos.x, pos.y, borders.left.width, pos.height);
    side(borders.right, pos.right() - borders.right.width, pos.y, borders.right.width, pos.height);
    cairo_restore(cr);
}

void HTMLContainer::set_caption(const char* caption) { title_ = caption ? caption : ""; }

void HTMLContainer::set_base_url(const char* base_url) {
    if (!base_url || !*base_url)
        return;
    if (const std::optional<URL> url = URL::string(resolve(base_url)))
        baseURL_ = url;
}

void HTMLContainer::on_anchor_click(const char* url, const litehtml::element::ptr& el) {
    if (!url || !*url)
        return;
    const char* target = el ? el->get_attr("target") : nullptr;
    click_ = Click{resolve(url), target && std::string_view(target) == "_blank"};
}

void HTMLContainer::transform_text(litehtml::tstring& text, litehtml::text_transform tt) {
    if (tt == litehtml::text_transform_uppercase)
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    else if (tt == litehtml::text_transform_lowercase)
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    else if (tt == litehtml::text_transform_capitalize && !text.empty())
        text[0] = char(std::toupper(static_cast<unsigned char>(text[0])));
}

void HTMLContainer::set_clip(const litehtml::position& pos, const litehtml::border_radiuses&, bool valid_x,
                             bool valid_y) {
    litehtml::position clip = pos;
    if (!valid_x) {
        clip.x = -1000000;
        clip.width = 2000000;
    }
    if (!valid_y) {
        clip.y = -1000000;
        clip.height = 2000000;
    }
    clips_.push_back(clip);
}

void HTMLContainer::del_clip() {
    if (!clips_.empty())
        clips_.pop_back();
}

void HTMLContainer::get_client_rect(litehtml::position& client) const {
    client.x = 0;
    client.y = 0;
    client.width = width_;
    client.height = height_;
}

void HTMLContainer::get_media_features(litehtml::media_features& media) const {
    media.type = litehtml::media_type_screen;
    media.width = media.device_width = width_;
    media.height = media.device_height = height_;
    media.color = 8;
    media.monochrome = 0;
    media.color_index = 256;
    media.resolution = 96;
}

void HTMLContainer::get_language(litehtml::tstring& language, litehtml::tstring& culture) const {
    language = "en";
    culture = "";
}
