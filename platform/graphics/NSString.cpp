#include "platform/graphics/NSString.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "platform/graphics/CGContext.h"
#include "platform/graphics/PangoText.h"

namespace {

struct LayoutUnref {
    void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
using Layout = std::unique_ptr<PangoLayout, LayoutUnref>;

Layout makeLayout(PangoContext* context, const std::string& text, CGFloat width, const NSStringAttributes& attributes) {
    Layout layout(pango_layout_new(context));
    pango_layout_set_text(layout.get(), text.data(), int(text.size()));
    pango_layout_set_font_description(layout.get(), pangotext::describe(attributes.font).get());
    const CGFloat units = width * PANGO_SCALE;
    if (std::isfinite(units) && units >= 1 && units < CGFloat(INT_MAX)) {
        pango_layout_set_width(layout.get(), int(units));
        pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    }
    switch (attributes.paragraphStyle.alignment) {
    case NSTextAlignment::left:
        pango_layout_set_alignment(layout.get(), PANGO_ALIGN_LEFT);
        break;
    case NSTextAlignment::center:
        pango_layout_set_alignment(layout.get(), PANGO_ALIGN_CENTER);
        break;
    case NSTextAlignment::right:
        pango_layout_set_alignment(layout.get(), PANGO_ALIGN_RIGHT);
        break;
    }
    return layout;
}

}  // namespace

CGRect NSString::boundingRect(CGSize size, const NSStringAttributes& attributes) const {
    if (text_.empty())
        return {};
    PangoContext* context = pangotext::context();
    pango_context_set_matrix(context, nullptr);
    const Layout layout = makeLayout(context, text_, size.width, attributes);
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    return {0, 0, CGFloat(logical.width) / PANGO_SCALE, CGFloat(logical.height) / PANGO_SCALE};
}

NSStringAttributes NSString::fitting(CGSize box, NSStringAttributes attributes, CGFloat minimumScale) const {
    const CGFloat size = attributes.font.pointSize();
    if (!(box.width > 0 && box.height > 0) || !std::isfinite(box.width) || !std::isfinite(box.height))
        return attributes;
    for (CGFloat scale = 1;; scale *= 0.9) {
        const CGRect taken = boundingRect(box, attributes);
        if ((taken.height() <= box.height && taken.width() <= box.width) || scale * 0.9 < minimumScale)
            return attributes;
        attributes.font = UIFont(attributes.font.fontName(), size * scale * 0.9);
    }
}

void NSString::draw(const CGRect& rect, const NSStringAttributes& attributes) const {
    CGContext* graphics = UIGraphicsGetCurrentContext();
    if (text_.empty() || !graphics || !graphics->canDraw())
        return;
    const UIColor c = attributes.foregroundColor;
    const CGFloat alpha = c.alpha * graphics->globalAlpha();
    const CGRect r = rect.standardized();
    if (!std::isfinite(r.minX()) || !std::isfinite(r.minY()) || !std::isfinite(r.width()) || !std::isfinite(c.red) ||
        !std::isfinite(c.green) || !std::isfinite(c.blue) || !std::isfinite(alpha))
        return;
    cairo_t* cr = graphics->cairo();
    PangoContext* context = pangotext::context();
    pango_cairo_update_context(cr, context);
    const Layout layout = makeLayout(context, text_, r.width(), attributes);
    cairo_new_path(cr);
    cairo_move_to(cr, r.minX(), r.minY());
    cairo_set_source_rgba(cr, c.red, c.green, c.blue, alpha);
    pango_cairo_show_layout(cr, layout.get());
    cairo_new_path(cr);
}
