#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/UIView.h"

class UITextField;

// The simple look of the system's dialogs on screen: the screen dimmed, a
// white box in the middle with a title, a message, text fields, a list to
// choose from and a row of buttons. A tap on a button or a list row is
// reported; everything else on the screen is blocked while it is up.
class DialogPanel : public UIView {
public:
    struct Button {
        std::string title;
        bool bold = false;  // the cancel button, as the platform draws it
    };
    struct Row {
        std::string text;
        bool selected = false;
    };

    std::string title;
    std::string message;
    std::vector<std::shared_ptr<UITextField>> fields;
    std::vector<Row> rows;
    std::vector<Button> buttons;
    std::function<void(std::size_t button)> onButton;
    std::function<void(std::size_t row)> onRow;

    // Where the parts sit in the panel's own space, for drawing and taps.
    struct Layout {
        CGRect box;
        CGRect title, message;
        std::vector<CGRect> fields, rows, buttons;
    };
    Layout layout() const;

    void draw(const CGRect& rect) override;
    void layoutSubviews() override;
    void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
    void touchesMoved(const UITouchSet& touches, const UIEvent* event) override;
    void touchesEnded(const UITouchSet& touches, const UIEvent* event) override;
    void touchesCancelled(const UITouchSet& touches, const UIEvent* event) override;
};

// One line of text to type into, with grey placeholder text while it is empty.
class UITextField : public UIView {
public:
    using UIView::UIView;

    std::string text;
    std::string placeholder;

    void draw(const CGRect& rect) override;
    // Typing from the keyboard (the desktop window sends it to the frontmost field).
    void insertText(const std::string& typed) { text += typed; setNeedsDisplay(); }
    void deleteBackward();
};
