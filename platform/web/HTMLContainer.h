#pragma once

// Inside the web view only: the bridge that lets litehtml measure and draw
// through Pango and Cairo.

#include <litehtml.h>
#include <litehtml/url.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <string>
#include <vector>

#include "platform/foundation/URL.h"

class CGContext;
class UIImage;
typedef struct _cairo cairo_t;

// Tables and their parts nested deeper than three tables in `top` and the
// elements inside it become blocks, their content kept: counted on the
// computed display, whatever a style sheet's selectors or `inherit` made of
// it, and on the boxes litehtml adds around table parts out of their place.
void boundTables(litehtml::element& top);

class HTMLContainer final : public litehtml::document_container {
public:
    using ImageRequest = std::function<void(const URL&)>;

    struct Click {
        std::string address;
        bool newWindow = false;
    };

    HTMLContainer(std::optional<URL> baseURL, ImageRequest requestImage);
    ~HTMLContainer();

    // The address as the page means it: relative to the page's base URL.
    std::string resolve(const std::string& href) const;

    void setViewport(int width, int height) { width_ = width, height_ = height; }
    // True once a picture arrived since the last layout.
    bool takeImagesChanged();
    void setImage(const URL& url, std::shared_ptr<UIImage> image);
    std::optional<Click> takeClick();
    const std::string& title() const { return title_; }

    // Style being computed for an element and those inside it: only the
    // outermost one bounds its tables.
    int styling = 0;
    const std::optional<URL>& baseURL() const { return baseURL_; }

    litehtml::uint_ptr create_font(const char* faceName, int size, int weight, litehtml::font_style italic,
                                   unsigned int decoration, litehtml::font_metrics* fm) override;
    void delete_font(litehtml::uint_ptr font) override;
    int text_width(const char* text, litehtml::uint_ptr font) override;
    void draw_text(litehtml::uint_ptr hdc, const char* text, litehtml::uint_ptr font, litehtml::web_color color,
                   const litehtml::position& pos) override;
    int pt_to_px(int pt) const override;
    int get_default_font_size() const override { return 16; }
    const char* get_default_font_name() const override { return "sans-serif"; }
    void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override;
    void load_image(const char* src, const char* baseurl, bool redraw_on_ready) override;
    void get_image_size(const char* src, const char* baseurl, litehtml::size& sz) override;
    void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override;
    void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders, const litehtml::position& draw_pos,
                      bool root) override;
    void set_caption(const char* caption) override;
    void set_base_url(const char* base_url) override;
    void link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) override {}
    void on_anchor_click(const char* url, const litehtml::element::ptr& el) override;
    void set_cursor(const char*) override {}
    void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override;
    void import_css(litehtml::tstring&, const litehtml::tstring&, litehtml::tstring&) override {}
    void set_clip(const litehtml::position& pos, const litehtml::border_radiuses& radius, bool valid_x,
                  bool valid_y) override;
    void del_clip() override;
    void get_client_rect(litehtml::position& client) const override;
    std::shared_ptr<litehtml::element> create_element(const char* tag, const litehtml::string_map&,
                                                      const std::shared_ptr<litehtml::document>&) override;
    void get_media_features(litehtml::media_features& media) const override;
    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override;

private:
    struct Font;
    // Saves the drawing state and applies the engine's clips; cairo_restore() ends it.
    cairo_t* begin(CGContext& context) const;
    std::optional<URL> imageURL(const char* src, const char* baseurl) const;
    std::shared_ptr<UIImage> image(const char* src, const char* baseurl) const;

    std::optional<URL> baseURL_;
    ImageRequest requestImage_;
    std::map<std::string, std::shared_ptr<UIImage>> images_;  // by address; null while on its way
    bool imagesChanged_ = false;
    std::vector<std::unique_ptr<Font>> fonts_;
    // Widths of words measured, by font and text: the engine asks for each
    // word in every layout.
    std::unordered_map<std::string, int> widths_;
    std::vector<litehtml::position> clips_;
    std::optional<Click> click_;
    std::string title_;
    int width_ = 0;
    int height_ = 0;
};
