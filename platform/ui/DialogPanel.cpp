#include "platform/ui/DialogPanel.h"

#include <algorithm>

#include "platform/graphics/NSString.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/ui/UITouch.h"

namespace {

constexpr CGFloat kWidth = 300, kPad = 16, kFieldHeight = 28, kRowHeight = 24, kButtonHeight = 44;
constexpr std::size_t kMaxRows = 12;

NSStringAttributes textStyle(CGFloat size, bool bold, NSTextAlignment alignment,
                             UIColor color = UIColor::black()) {
    NSStringAttributes a;
    a.font = UIFont(bold ? "Helvetica-Bold" : "Helvetica", size);
    a.foregroundColor = color;
    a.paragraphStyle.alignment = alignment;
    return a;
}

CGFloat textHeight(const std::string& text, const NSStringAttributes& style) {
    return text.empty() ? 0 : NSString(text).boundingRect({kWidth - 2 * kPad, 1e6}, style).height();
}

const UIColor kTint{0.0, 0.48, 1.0, 1.0};
const UIColor kLine{0.8, 0.8, 0.8, 1.0};

}  // namespace

DialogPanel::Layout DialogPanel::layout() const {
    Layout l;
    const CGFloat titleH = textHeight(title, textStyle(17, true, NSTextAlignment::center));
    const CGFloat messageH = textHeight(message, textStyle(13, false, NSTextAlignment::center));
    const std::size_t shownRows = std::min(rows.size(), kMaxRows);
    const bool sideBySide = buttons.size() == 2;
    const std::size_t buttonRows = sideBySide ? 1 : buttons.size();
    const CGFloat height = kPad + titleH + (messageH > 0 ? 6 + messageH : 0) +
                           CGFloat(fields.size()) * (kFieldHeight + 8) + CGFloat(shownRows) * kRowHeight + kPad +
                           CGFloat(buttonRows) * kButtonHeight;
    const CGRect b = bounds();
    l.box = {b.midX() - kWidth / 2, b.midY() - height / 2, kWidth, height};
    CGFloat y = l.box.minY() + kPad;
    l.title = {l.box.minX() + kPad, y, kWidth - 2 * kPad, titleH};
    y += titleH;
    if (messageH > 0)
        y += 6;
    l.message = {l.box.minX() + kPad, y, kWidth - 2 * kPad, messageH};
    y += messageH;
    for (std::size_t i = 0; i < fields.size(); ++i, y += kFieldHeight + 8)
        l.fields.push_back({l.box.minX() + kPad, y + 8, kWidth - 2 * kPad, kFieldHeight});
    for (std::size_t i = 0; i < shownRows; ++i, y += kRowHeight)
        l.rows.push_back({l.box.minX() + kPad, y + (i == 0 ? 8 : 0), kWidth - 2 * kPad, kRowHeight});
    y += kPad;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (sideBySide)
            l.buttons.push_back({l.box.minX() + CGFloat(i) * kWidth / 2, y, kWidth / 2, kButtonHeight});
        else
            l.buttons.push_back({l.box.minX(), y + CGFloat(i) * kButtonHeight, kWidth, kButtonHeight});
    }
    return l;
}

void DialogPanel::layoutSubviews() {
    UIView::layoutSubviews();
    const Layout l = layout();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i]->superview() != this)
            addSubview(fields[i]);
        fields[i]->setFrame(l.fields[i]);
    }
}

void DialogPanel::draw(const CGRect&) {
    const Layout l = layout();
    UIColor{0, 0, 0, 0.4}.setFill();
    UIBezierPath::rect(bounds())->fill();
    UIColor{0.97, 0.97, 0.97, 1}.setFill();
    UIBezierPath::roundedRect(l.box, 12)->fill();
    NSString(title).draw(l.title, textStyle(17, true, NSTextAlignment::center));
    NSString(message).draw(l.message, textStyle(13, false, NSTextAlignment::center));
    for (std::size_t i = 0; i < l.rows.size(); ++i) {
        if (rows[i].selected) {
            kTint.withAlphaComponent(0.15).setFill();
            UIBezierPath::rect(l.rows[i])->fill();
        }
        const CGRect r = l.rows[i];
        NSString(rows[i].text).draw({r.minX() + 6, r.minY() + 4, r.width() - 12, r.height() - 4},
                                    textStyle(13, rows[i].selected, NSTextAlignment::left));
    }
    for (std::size_t i = 0; i < l.buttons.size(); ++i) {
        const CGRect r = l.buttons[i];
        kLine.setFill();
        UIBezierPath::rect({r.minX(), r.minY(), r.width(), 1})->fill();
        if (i > 0 && buttons.size() == 2)
            UIBezierPath::rect({r.minX(), r.minY(), 1, r.height()})->fill();
        NSString(buttons[i].title)
            .draw({r.minX(), r.minY() + 13, r.width(), r.height() - 13},
                  textStyle(17, buttons[i].bold, NSTextAlignment::center, kTint));
    }
}

// The panel takes every touch on the screen; only a release over a button
// or a row does anything.
void DialogPanel::touchesBegan(const UITouchSet&, const UIEvent*) {}
void DialogPanel::touchesMoved(const UITouchSet&, const UIEvent*) {}
void DialogPanel::touchesCancelled(const UITouchSet&, const UIEvent*) {}

void DialogPanel::touchesEnded(const UITouchSet& touches, const UIEvent*) {
    const CGPoint p = touches.first()->location(this);
    const Layout l = layout();
    for (std::size_t i = 0; i < l.rows.size(); ++i)
        if (l.rows[i].contains(p) && onRow) {
            onRow(i);
            setNeedsDisplay();
            return;
        }
    for (std::size_t i = 0; i < l.buttons.size(); ++i)
        if (l.buttons[i].contains(p) && onButton) {
            const auto call = onButton;  // the press may take the panel away
            call(i);
            return;
        }
}

void UITextField::draw(const CGRect&) {
    const CGRect b = bounds();
    UIColor::white().setFill();
    kLine.setStroke();
    const auto box = UIBezierPath::roundedRect(b, 5);
    box->fill();
    box->stroke();
    const bool empty = text.empty();
    NSString(empty ? placeholder : text)
        .draw({b.minX() + 6, b.minY() + 7, b.width() - 12, b.height() - 7},
              textStyle(13, false, NSTextAlignment::left, empty ? UIColor{0.6, 0.6, 0.6, 1} : UIColor::black()));
}

void UITextField::deleteBackward() {
    // Drop one whole UTF-8 character.
    while (!text.empty()) {
        const unsigned char last = static_cast<unsigned char>(text.back());
        text.pop_back();
        if ((last & 0xC0) != 0x80)
            break;
    }
    setNeedsDisplay();
}
