#pragma once

#include <string>

#include "platform/ui/UIView.h"

// A view that shows a line or a few lines of text.
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

private:
    std::string text_;
    int numberOfLines_ = 1;
};
