#pragma once

// Steps the band strip, the controls pages and the whole canvas share on top
// of the drawing habits: placed symbols, control groups, lamps, text boxes
// by font name; and the pages of the controls area.

#include <string>
#include <string_view>

#include "Orvo_Halden_Extension/CanvasDrawing.h"

namespace canvas {

constexpr auto kStretch = OrvoHaldenViewBase::ResizingBehavior::stretch;

// A text centred vertically in its box and clipped to it (a text that does
// not fit shows the part that does), with the context's alpha set to
// `groupAlpha` while it is drawn.
void drawText(const std::string& text, const CGRect& box, std::string_view font, CGFloat size,
              const UIColor& color, NSTextAlignment alignment, CGFloat groupAlpha = 1);

// An on/off lamp: lit only when the switch is exactly 1, outlined always.
void drawLamp(const OrvoHaldenViewBase& model, const CGRect& oval, CGFloat switchValue);

// A symbol drawn at its design size into `rect` of its caller's picture:
// clipped to the rectangle, origin at its corner. The symbol is called also
// outside a drawing pass, so what it lays down besides pixels stays current.
template <class Symbol> void placeSymbol(const CGRect& rect, Symbol&& symbol) {
    StateScope placed;
    if (placed) {
        placed.context().clip(rect);
        placed.context().translateBy(rect.minX(), rect.minY());
    }
    symbol(CGRect(0, 0, rect.width(), rect.height()));
}

// A widget drawn about its centre: at its frame's size, or twice that while
// its control is held. `frame` is relative to the centre; the widget gets
// it moved to the origin.
template <class Widget>
void controlGroup(CGPoint centre, bool magnified, const CGRect& frame, Widget&& widget) {
    StateScope group;
    if (group) {
        group.context().translateBy(centre.x, centre.y);
        group.context().scaleBy(magnified ? 2 : 1, magnified ? 2 : 1);
    }
    placeSymbol(frame, widget);
}

// The pages of the controls area, drawn in its design points.
void drawMainPage(OrvoHaldenViewBase& model);
void drawDelaysPage(OrvoHaldenViewBase& model);
void drawShiftersPage(OrvoHaldenViewBase& model);

} // namespace canvas
