#include "platform/ui/UILabel.h"

#include "platform/graphics/CGContext.h"

void UILabel::draw(const CGRect&) {
    CGContext* context = UIGraphicsGetCurrentContext();
    if (!context || text_.empty())
        return;
    // A label of n lines shows the text up to its n-th line feed (0: all of it).
    std::string shown = text_;
    if (numberOfLines_ > 0) {
        std::size_t cut = std::string::npos, from = 0;
        for (int line = 0; line < numberOfLines_; ++line) {
            cut = shown.find('\n', from);
            if (cut == std::string::npos)
                break;
            from = cut + 1;
        }
        if (cut != std::string::npos)
            shown.resize(cut);
    }
    context->saveGState();
    context->clip(bounds());
    const NSString text(shown);
    text.draw(bounds(), adjustsFontSizeToFitWidth ? text.fitting(bounds().size, attributes, minimumScaleFactor)
                                                   : attributes);
    context->restoreGState();
}
