#pragma once

#include <string>

#include "platform/graphics/NSString.h"
#include "platform/ui/UIView.h"

// A view that shows a line or a few lines of text, from the top of its bounds.
class UILabel : public UIView {
public:
    using UIView::UIView;

    const std::string& text() const { return text_; }
    void setText(std::string text) {
        text_ = std::move(text);
        setNeedsDisplay();
    }
    int numberOfLines() const { return numberOfLines_; }
    void setNumberOfLines(int lines) { numberOfLines_ = lines; }

    // Font, colour and alignment of the text.
    NSStringAttributes attributes{UIFont("Helvetica", 17), UIColor::black(), {}};
    // Text too large for the bounds is drawn in a smaller font, down to
    // minimumScaleFactor of the font's size, instead of being cut off.
    bool adjustsFontSizeToFitWidth = false;
    CGFloat minimumScaleFactor = 0.25;

    void draw(const CGRect& rect) override;

private:
    std::string text_;
    int numberOfLines_ = 1;
};
