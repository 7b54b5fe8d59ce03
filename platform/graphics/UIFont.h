#pragma once

#include <string>
#include <string_view>

#include "platform/graphics/CGGeometry.h"

typedef struct _FcConfig FcConfig;

// The installed face a font name stands for.
struct FontFace {
    std::string family;
    int weight = 400;  // 100 (thin) to 900 (black), 400 regular, 700 bold
    bool italic = false;
    bool operator==(const FontFace&) const = default;
};

// Which face a font name maps to under a fontconfig configuration (null: the
// process's). The Helvetica faces map to Nimbus Sans, their condensed faces to
// Nimbus Sans Narrow; a family that is not installed falls back to DejaVu Sans.
FontFace resolveFontFace(std::string_view name, FcConfig* config = nullptr);

// A font by name and size in points. It never fails: a name without an
// installed face draws with the fallback face.
class UIFont {
public:
    UIFont(std::string_view name, CGFloat size);

    const std::string& fontName() const { return name_; }
    const FontFace& face() const { return face_; }
    const std::string& familyName() const { return face_.family; }
    CGFloat pointSize() const { return size_; }
    // What the text engine really loads for this font, e.g. "Nimbus Sans Narrow Bold 9".
    std::string loadedFaceDescription() const;

private:
    std::string name_;
    FontFace face_;
    CGFloat size_;
};
