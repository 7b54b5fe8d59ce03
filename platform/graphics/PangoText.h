#pragma once

// Inside the drawing layer only: the Pango side of fonts and text.

#include <pango/pangocairo.h>

#include <memory>

class UIFont;

namespace pangotext {

struct DescriptionFree {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};
using Description = std::unique_ptr<PangoFontDescription, DescriptionFree>;

// This thread's Pango context: 72 dpi, so a point is a user-space unit, and
// neither metrics nor glyph positions rounded, so layout does not depend on
// the transform it is drawn under.
PangoContext* context();

Description describe(const UIFont& font);

}  // namespace pangotext
