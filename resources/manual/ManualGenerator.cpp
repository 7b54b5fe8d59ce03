// Lays the manual's text out on A4 pages of a PDF.
//
// The text is plain lines: "# " the title (the paragraph after it is the
// subtitle), "## " a section, "- " a list item, anything else a paragraph;
// a blank line ends a paragraph.

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr double kPageWidth = 595.28, kPageHeight = 841.89;  // A4 in points
constexpr double kLeft = 64, kRight = 64, kTop = 64, kBottom = 76;
constexpr double kIndent = 16;

enum class Kind { title, subtitle, heading, paragraph, item };

struct Block {
    Kind kind;
    std::string text;
};

std::vector<Block> parse(std::istream& in) {
    std::vector<Block> blocks;
    std::string line;
    bool open = false;  // the last block is a paragraph or item that may go on
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty()) {
            open = false;
        } else if (line.rfind("## ", 0) == 0) {
            blocks.push_back({Kind::heading, line.substr(3)});
            open = false;
        } else if (line.rfind("# ", 0) == 0) {
            blocks.push_back({Kind::title, line.substr(2)});
            open = false;
        } else if (line.rfind("- ", 0) == 0) {
            blocks.push_back({Kind::item, line.substr(2)});
            open = true;
        } else if (open) {
            blocks.back().text += " " + line;
        } else {
            const bool afterTitle = !blocks.empty() && blocks.back().kind == Kind::title;
            blocks.push_back({afterTitle ? Kind::subtitle : Kind::paragraph, line});
            open = true;
        }
    }
    return blocks;
}

struct Style {
    const char* font;
    double grey;
    double before, after;
};

Style styleOf(Kind kind) {
    switch (kind) {
    case Kind::title: return {"Nimbus Sans Bold 30", 0.1, 0, 4};
    case Kind::subtitle: return {"Nimbus Sans 13", 0.4, 0, 18};
    case Kind::heading: return {"Nimbus Sans Bold 14", 0.1, 12, 5};
    case Kind::item: return {"Nimbus Sans 10.5", 0.15, 0, 4};
    case Kind::paragraph: break;
    }
    return {"Nimbus Sans 10.5", 0.15, 0, 8};
}

class Writer {
public:
    explicit Writer(cairo_t* cr) : cr_(cr), layout_(makeLayout(cr)), footer_(makeLayout(cr)) { y_ = kTop; }
    ~Writer() {
        g_object_unref(layout_);
        g_object_unref(footer_);
    }

    void write(const Block& block) {
        const Style style = styleOf(block.kind);
        const double x = kLeft + (block.kind == Kind::item ? kIndent : 0);
        const double width = kPageWidth - kRight - x;
        PangoFontDescription* font = pango_font_description_from_string(style.font);
        pango_layout_set_font_description(layout_, font);
        pango_font_description_free(font);
        pango_layout_set_width(layout_, int(width * PANGO_SCALE));
        pango_layout_set_wrap(layout_, PANGO_WRAP_WORD);
        pango_layout_set_spacing(layout_, int(2 * PANGO_SCALE));
        pango_layout_set_text(layout_, block.text.c_str(), -1);
        int w = 0, h = 0;
        pango_layout_get_size(layout_, &w, &h);
        const double height = double(h) / PANGO_SCALE;
        // A heading keeps at least a few lines of its section with it.
        const double keep = block.kind == Kind::heading ? 60 : 0;
        if (y_ > kTop && y_ + style.before + height + keep > kPageHeight - kBottom)
            newPage();
        else if (y_ > kTop)
            y_ += style.before;
        cairo_set_source_rgb(cr_, style.grey, style.grey, style.grey);
        if (block.kind == Kind::item) {
            // A path of its own: an arc joins any current point with a line,
            // which some renderers draw as a hairline even inside a fill.
            cairo_new_path(cr_);
            // Centred on the first line's lower-case letters (about half an x-height above the baseline).
            const double baseline = double(pango_layout_get_baseline(layout_)) / PANGO_SCALE;
            cairo_arc(cr_, kLeft + 5, y_ + baseline - 2.75, 2, 0, 6.2832);
            cairo_fill(cr_);
        }
        cairo_move_to(cr_, x, y_);
        pango_cairo_show_layout(cr_, layout_);
        cairo_new_path(cr_);  // the text's start point is no longer wanted
        y_ += height + style.after;
        if (block.kind == Kind::subtitle) {
            cairo_set_source_rgb(cr_, 0.55, 0.55, 0.55);
            cairo_set_line_width(cr_, 0.75);
            cairo_move_to(cr_, kLeft, y_ - 10);
            cairo_line_to(cr_, kPageWidth - kRight, y_ - 10);
            cairo_stroke(cr_);
        }
    }

    void finish() { footer(); }

private:
    static PangoLayout* makeLayout(cairo_t* cr) {
        PangoLayout* layout = pango_cairo_create_layout(cr);
        pango_cairo_context_set_resolution(pango_layout_get_context(layout), 72);  // a point is a unit
        pango_layout_context_changed(layout);
        return layout;
    }

    void footer() {
        PangoFontDescription* font = pango_font_description_from_string("Nimbus Sans 8.5");
        pango_layout_set_font_description(footer_, font);
        pango_font_description_free(font);
        pango_layout_set_width(footer_, int((kPageWidth - kLeft - kRight) * PANGO_SCALE));
        cairo_set_source_rgb(cr_, 0.45, 0.45, 0.45);
        for (const auto& [alignment, text] :
             {std::pair{PANGO_ALIGN_LEFT, std::string("Orvo Halden \u00b7 User manual")},
              std::pair{PANGO_ALIGN_RIGHT, "page " + std::to_string(page_)}}) {
            pango_layout_set_alignment(footer_, alignment);
            pango_layout_set_text(footer_, text.c_str(), -1);
            cairo_move_to(cr_, kLeft, kPageHeight - kBottom + 30);
            pango_cairo_show_layout(cr_, footer_);
            cairo_new_path(cr_);
        }
    }

    void newPage() {
        footer();
        cairo_show_page(cr_);
        ++page_;
        y_ = kTop;
    }

    cairo_t* cr_;
    PangoLayout* layout_;
    PangoLayout* footer_;
    double y_;
    int page_ = 1;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <manual text> <manual.pdf>\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "manual: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<Block> blocks = parse(in);
    cairo_surface_t* surface = cairo_pdf_surface_create(argv[2], kPageWidth, kPageHeight);
    // Fixed metadata, so that the same text always makes the same file.
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, "Orvo Halden - User manual");
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATE_DATE, "2024-01-01T00:00:00Z");
    cairo_t* cr = cairo_create(surface);
    {
        Writer writer(cr);
        for (const Block& block : blocks)
            writer.write(block);
        writer.finish();
    }
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const cairo_status_t status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS || blocks.empty()) {
        std::fprintf(stderr, "manual: cannot write %s: %s\n", argv[2],
                     blocks.empty() ? "the text is empty" : cairo_status_to_string(status));
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
