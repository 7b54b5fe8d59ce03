#include "tests/support/PinnedFonts.h"

#include <fstream>

#include "tests/support/TempFolder.h"

namespace testkit {

void pinFonts() {
    static TempFolder folder("orvo-fonts");
    static const bool pinned = [] {
        const auto file = folder / "fonts.conf";
        std::ofstream out(file);
        out << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
            << "  <dir>/usr/share/fonts/opentype/urw-base35</dir>\n"
            << "  <dir>/usr/share/fonts/truetype/dejavu</dir>\n"
            << "  <cachedir>" << (folder / "cache").string() << "</cachedir>\n"
            << "</fontconfig>\n";
        ScopedEnvironment::set("FONTCONFIG_FILE", file.string());
        return true;
    }();
    (void)pinned;
}

}  // namespace testkit
