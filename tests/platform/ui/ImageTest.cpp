#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/URLSession.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/ui/UIImage.h"
#include "tests/support/PixelProbe.h"
#include "tests/support/TempFolder.h"

namespace {

// A 4 by 2 PNG, red on the left half and blue on the right, as file bytes.
Data twoColourPNG(const testkit::TempFolder& folder) {
    ImageSurface picture({4, 2});
    picture.draw([](CGContext&) {
        UIColor{1, 0, 0, 1}.setFill();
        UIBezierPath::rect({0, 0, 2, 2})->fill();
        UIColor{0, 0, 1, 1}.setFill();
        UIBezierPath::rect({2, 0, 2, 2})->fill();
    });
    const std::string path = folder / "two.png";
    picture.writePNG(path);
    std::ifstream in(path, std::ios::binary);
    return Data(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(UIImage, DecodesPNGAndRefusesEverythingElse) {
    testkit::TempFolder folder;
    const Data png = twoColourPNG(folder);
    const auto image = UIImage::withData(png);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), (CGSize{4, 2}));
    EXPECT_FALSE(UIImage::withData(Data{}));
    EXPECT_FALSE(UIImage::withData(Data{'<', 'h', 't', 'm', 'l', '>', 0, 0, 0, 0}));
    EXPECT_FALSE(UIImage::withData(Data(png.begin(), png.begin() + long(png.size() / 2))));  // cut short
}

TEST(UIImage, AnImageViewStretchesItsImageOverItsBounds) {
    testkit::TempFolder folder;
    auto view = std::make_shared<UIImageView>(CGRect(0, 0, 40, 20));
    view->setImage(UIImage::withData(twoColourPNG(folder)));
    const auto out = testkit::renderOverWhite({40, 20}, 1, [&](CGContext& c) { view->render(c); });
    EXPECT_TRUE(testkit::pixelNear(*out, {10, 10}, {255, 0, 0, 255}));
    EXPECT_TRUE(testkit::pixelNear(*out, {30, 10}, {0, 0, 255, 255}));
}

TEST(URLText, FormsURLsOnlyFromWellFormedText) {
    struct Case {
        const char* text;
        std::optional<std::string> scheme, path;
    };
    const Case cases[] = {
        {"", std::nullopt, std::nullopt},
        {"a b.png", std::nullopt, std::nullopt},
        {"bad%2", std::nullopt, std::nullopt},
        {"file:///tmp/x%20y.png", "file", "/tmp/x y.png"},
        {"file://localhost/tmp/z.png", "file", "/tmp/z.png"},
        {"https://example.com/a.png?size=2", "https", "/a.png"},
        {"picture.png", "", "picture.png"},
    };
    for (const Case& c : cases) {
        const std::optional<URL> url = URL::string(c.text);
        ASSERT_EQ(url.has_value(), c.scheme.has_value()) << c.text;
        if (!url)
            continue;
        EXPECT_EQ(url->scheme(), *c.scheme) << c.text;
        EXPECT_EQ(url->path(), *c.path) << c.text;
    }
    EXPECT_EQ(URL::string("https://example.com/a.png?size=2")->absoluteString(), "https://example.com/a.png?size=2");
}

TEST(URLSession, ReadsFilesOnTheMainQueueAndCannotReachTheNetwork) {
    testkit::TempFolder folder;
    const Data png = twoColourPNG(folder);
    std::vector<std::string> results;
    auto record = [&](const std::optional<Data>& data, const std::optional<URLResponse>& response,
                      const std::optional<NSError>& error) {
        results.push_back(error ? error->localizedDescription()
                                : std::to_string(data->size()) + (response->statusCode ? " http" : " file"));
    };
    URLSession::shared().dataTask({URL::fileURLWithPath((folder / "two.png").string())}, record);
    URLSession::shared().dataTask({*URL::string("http://example.com/a.png")}, record);
    URLSession::shared().dataTask({URL::fileURLWithPath((folder / "missing.png").string())}, record);
    EXPECT_TRUE(results.empty());
    DispatchQueue::main().drain();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0], std::to_string(png.size()) + " file");
    EXPECT_EQ(results[1], "The URL cannot be loaded: there is no network client.");
    EXPECT_NE(results[2].find("missing.png"), std::string::npos) << results[2];
}
