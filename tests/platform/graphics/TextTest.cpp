#include <gtest/gtest.h>

#include <fontconfig/fontconfig.h>

#include <fstream>
#include <optional>

#include "platform/graphics/CGContext.h"
#include "platform/graphics/NSString.h"
#include "tests/support/PinnedFonts.h"
#include "tests/support/PixelProbe.h"
#include "tests/support/TempFolder.h"

namespace {

const auto* const fontsPinned = ::testing::AddGlobalTestEnvironment(new testkit::PinnedFontsEnvironment);

NSStringAttributes attributes(const char* font, CGFloat size, NSTextAlignment alignment = NSTextAlignment::left) {
    return {UIFont(font, size), UIColor::black(), {alignment}};
}

// The horizontal extent of the dark pixels, in points.
std::optional<std::pair<CGFloat, CGFloat>> inkSpan(const ImageSurface& surface) {
    std::optional<std::pair<CGFloat, CGFloat>> span;
    for (int y = 0; y < surface.pixelHeight(); ++y)
        for (int x = 0; x < surface.pixelWidth(); ++x)
            if (surface.pixel(x, y).red < 128) {
                const CGFloat left = x / surface.scale(), right = (x + 1) / surface.scale();
                span = span ? std::pair{std::min(span->first, left), std::max(span->second, right)}
                            : std::pair{left, right};
            }
    return span;
}

// A fontconfig configuration of its own, holding only the given folders.
struct OwnConfig {
    testkit::TempFolder folder{"orvo-fc"};
    FcConfig* config = FcConfigCreate();
    explicit OwnConfig(std::initializer_list<const char*> dirs) {
        std::ofstream out(folder / "fonts.conf");
        out << "<?xml version=\"1.0\"?>\n<fontconfig>\n";
        for (const char* dir : dirs)
            out << "<dir>" << dir << "</dir>\n";
        out << "<cachedir>" << (folder / "cache").string() << "</cachedir>\n</fontconfig>\n";
        out.close();
        FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>((folder / "fonts.conf").c_str()), FcTrue);
        FcConfigBuildFonts(config);
    }
    ~OwnConfig() { FcConfigDestroy(config); }
};

}  // namespace

TEST(UIFont, HelveticaFacesMapToTheInstalledUrwFaces) {
    struct Case {
        const char* name;
        FontFace face;
        const char* loaded;
    };
    const Case cases[] = {
        {"HelveticaNeue", {"Nimbus Sans", 400, false}, "Nimbus Sans"},
        {"HelveticaNeue-Bold", {"Nimbus Sans", 700, false}, "Nimbus Sans Bold"},
        {"HelveticaNeue-Italic", {"Nimbus Sans", 400, true}, "Nimbus Sans Italic"},
        {"HelveticaNeue-CondensedBold", {"Nimbus Sans Narrow", 700, false}, "Nimbus Sans Narrow Bold Semi-Condensed"},
        // No black narrow face exists: the heaviest one there is.
        {"HelveticaNeue-CondensedBlack", {"Nimbus Sans Narrow", 900, false}, "Nimbus Sans Narrow Bold Semi-Condensed"},
        {"NoSuchFamily-Bold", {"DejaVu Sans", 700, false}, "DejaVu Sans Bold"},
        {"", {"DejaVu Sans", 400, false}, "DejaVu Sans"},
    };
    for (const Case& c : cases) {
        const UIFont font(c.name, 12);
        EXPECT_EQ(font.face(), c.face) << c.name;
        EXPECT_EQ(font.loadedFaceDescription(), c.loaded) << c.name;
    }
}

TEST(UIFont, MissingFacesFallBackWithoutFailing) {
    OwnConfig dejaVuOnly{"/usr/share/fonts/truetype/dejavu"};
    EXPECT_EQ(resolveFontFace("HelveticaNeue-CondensedBold", dejaVuOnly.config),
              (FontFace{"DejaVu Sans", 700, false}));
    // Not even the fallback installed: still a face to ask for.
    OwnConfig nothing{};
    EXPECT_EQ(resolveFontFace("HelveticaNeue", nothing.config).family, "DejaVu Sans");
    EXPECT_EQ(UIFont("HelveticaNeue", NAN).pointSize(), 12);
}

TEST(NSString, MeasuresLinesUnroundedAndWrapsAtTheBoxWidth) {
    const auto nimbus12 = attributes("HelveticaNeue", 12);
    EXPECT_EQ(NSString("").boundingRect({98, INFINITY}, nimbus12), CGRect());

    const CGRect line = NSString("knob").boundingRect({98, INFINITY}, nimbus12);
    EXPECT_GT(line.size.width, 10);
    EXPECT_LT(line.size.width, 40);
    EXPECT_GE(line.size.height, 12);
    EXPECT_LT(line.size.height, 16);
    // Without hinting a font twice the size takes exactly twice the room.
    const CGRect doubled = NSString("knob").boundingRect({196, INFINITY}, attributes("HelveticaNeue", 24));
    EXPECT_NEAR(doubled.size.height, 2 * line.size.height, 0.01);
    EXPECT_NEAR(doubled.size.width, 2 * line.size.width, 0.01);

    const std::string words = "pre delay division selector";
    const CGRect unwrapped = NSString(words).boundingRect({0, INFINITY}, nimbus12);
    EXPECT_GT(unwrapped.size.width, 98);
    EXPECT_NEAR(unwrapped.size.height, line.size.height, 0.01);
    const CGRect wrapped = NSString(words).boundingRect({98, INFINITY}, nimbus12);
    EXPECT_LE(wrapped.size.width, 98);
    EXPECT_NEAR(wrapped.size.height, 2 * line.size.height, 0.01);
    // A word wider than the box breaks inside itself.
    const CGRect longWord = NSString("reverberation").boundingRect({30, INFINITY}, nimbus12);
    EXPECT_GE(longWord.size.height, 2 * line.size.height - 0.01);
}

TEST(NSString, DrawsAlignedWithinTheRectangleWidth) {
    struct Case {
        NSTextAlignment alignment;
        CGFloat scale;
    };
    for (const Case c : {Case{NSTextAlignment::left, 1}, Case{NSTextAlignment::center, 1},
                         Case{NSTextAlignment::right, 1}, Case{NSTextAlignment::center, 2}}) {
        const auto attrs = attributes("HelveticaNeue-CondensedBold", 18, c.alignment);
        const NSString text("HHHH");
        const CGFloat width = text.boundingRect({200, INFINITY}, attrs).size.width;
        ImageSurface surface({200, 30}, c.scale);
        surface.fill(UIColor::white());
        surface.draw([&](CGContext&) { text.draw({0, 0, 200, 30}, attrs); });
        const auto span = inkSpan(surface);
        ASSERT_TRUE(span);
        // The ink of "H" sits a little inside its advance on either side.
        const CGFloat left = c.alignment == NSTextAlignment::left     ? 0
                             : c.alignment == NSTextAlignment::center ? (200 - width) / 2
                                                                      : 200 - width;
        EXPECT_NEAR(span->first, left, 3) << int(c.alignment);
        EXPECT_NEAR(span->second, left + width, 3) << int(c.alignment);
    }
}

TEST(NSString, TakesTheGlobalAlphaAndDrawsNothingOutsideAPass) {
    NSString("outside").draw({0, 0, 100, 20}, attributes("HelveticaNeue", 12));
    const auto attrs = attributes("HelveticaNeue-Bold", 40);
    ImageSurface surface({100, 50});
    surface.fill(UIColor::white());
    surface.draw([&](CGContext& context) {
        context.setAlpha(0.5);
        NSString("I").draw({0, 0, 100, 50}, attrs);
    });
    // The darkest pixel is the stem's inside: half black over white.
    uint8_t darkest = 255;
    for (int y = 0; y < surface.pixelHeight(); ++y)
        for (int x = 0; x < surface.pixelWidth(); ++x)
            darkest = std::min(darkest, surface.pixel(x, y).red);
    EXPECT_NEAR(darkest, 128, 2);
}

TEST(NSString, FittingShrinksTheFontOnlyAsFarAsTheBoxNeedsAndNoFurtherThanAsked) {
    const NSString text("Contrast and freeze");
    const NSStringAttributes big = attributes("HelveticaNeue", 14);
    const CGRect natural = text.boundingRect({1000, 0}, big);
    struct Case {
        CGSize box;
        CGFloat minimumScale;
        bool shrinks, fits;
    };
    const Case cases[] = {
        {{natural.width() + 1, natural.height() + 1}, 0.25, false, true},
        {{natural.width() / 2, natural.height()}, 0.25, true, true},  // no room for a second line
        {{natural.width(), natural.height() / 2}, 0.25, true, true},
        {{4, 2}, 0.5, true, false},  // stops at half size however small the box
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.box.width << " x " << k.box.height);
        const NSStringAttributes got = text.fitting(k.box, big, k.minimumScale);
        const CGFloat size = got.font.pointSize();
        EXPECT_EQ(size < 14, k.shrinks);
        EXPECT_GE(size, 14 * k.minimumScale);
        const CGRect taken = text.boundingRect(k.box, got);
        EXPECT_EQ(taken.width() <= k.box.width && taken.height() <= k.box.height, k.fits);
        // As large as fits: one step larger would not.
        if (k.shrinks && k.fits) {
            const CGRect larger = text.boundingRect(k.box, attributes("HelveticaNeue", size / 0.9));
            EXPECT_TRUE(larger.width() > k.box.width || larger.height() > k.box.height);
        }
    }
}
