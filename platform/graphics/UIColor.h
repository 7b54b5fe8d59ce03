#pragma once

#include "platform/graphics/CGGeometry.h"

// A colour as red, green, blue and alpha components in 0..1 (not clamped:
// whatever the caller gives is what the drawing layer receives).
struct UIColor {
    CGFloat red = 0;
    CGFloat green = 0;
    CGFloat blue = 0;
    CGFloat alpha = 1;

    // Tints are made by replacing the alpha, never by mixing.
    UIColor withAlphaComponent(CGFloat newAlpha) const { return {red, green, blue, newAlpha}; }

    // Make this the fill or stroke colour of the current graphics context
    // (nothing happens outside a drawing pass).
    void setFill() const;
    void setStroke() const;

    static UIColor black() { return {0, 0, 0, 1}; }
    static UIColor white() { return {1, 1, 1, 1}; }
    static UIColor clear() { return {0, 0, 0, 0}; }

    bool operator==(const UIColor&) const = default;
};
