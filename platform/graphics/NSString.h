#pragma once

#include <string>

#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIColor.h"
#include "platform/graphics/UIFont.h"

enum class NSTextAlignment { left, center, right };

struct NSParagraphStyle {
    NSTextAlignment alignment = NSTextAlignment::left;
};

// The attributes text is measured and drawn with.
struct NSStringAttributes {
    UIFont font{"HelveticaNeue", 12};
    UIColor foregroundColor = UIColor::black();
    NSParagraphStyle paragraphStyle;
};

// Text laid out from the top of its box (line-fragment-origin layout), lines
// wrapped at word boundaries to the box width, or inside a word that is wider
// than the box; a width that is not a positive finite number wraps nothing.
class NSString {
public:
    explicit NSString(std::string text) : text_(std::move(text)) {}

    const std::string& string() const { return text_; }

    // The size the text takes at most `size.width` wide, height unlimited;
    // origin (0, 0). Empty text takes no room.
    CGRect boundingRect(CGSize size, const NSStringAttributes& attributes) const;
    // The attributes with the font made smaller, step by step down to
    // `minimumScale` of its size, until the text wrapped to the box's width
    // fits its height and no word sticks out of its width.
    NSStringAttributes fitting(CGSize box, NSStringAttributes attributes, CGFloat minimumScale = 0.25) const;
    // Draws the lines from the top of `rect`, aligned within its width, into
    // the current graphics context. The rectangle does not clip: callers that
    // want a clip set one.
    void draw(const CGRect& rect, const NSStringAttributes& attributes) const;

private:
    std::string text_;
};
