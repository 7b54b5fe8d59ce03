#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <thread>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/URLSession.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/ui/UIImageView.h"
#include "tests/support/CopyTally.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainQueue.h"
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

TEST(URLSession, TransfersOnAWorkerAndCompletesOnTheMainQueueWithWhereTheContentCameFrom) {
    testkit::TempFolder folder;
    const Data png = twoColourPNG(folder);
    const std::string picture(png.begin(), png.end());
    testkit::LoopbackServer server({{"/two.png", {200, "image/png", picture}},
                                    {"/moved", {302, "text/html", "", "/two.png"}},
                                    {"/slow.png", {200, "image/png", picture, "", true}}});
    struct Case {
        std::string address;
        TimeInterval timeout;
        std::string result;  // size, status and type, or the error's code
        std::string from;    // the response's URL
    };
    const std::string file = URL::fileURLWithPath((folder / "two.png").string()).absoluteString();
    const std::string size = std::to_string(png.size());
    const std::vector<Case> cases = {
        {file, 60, size + " - image/png", file},
        {server.url("/two.png"), 60, size + " 200 image/png", server.url("/two.png")},
        {server.url("/moved"), 60, size + " 200 image/png", server.url("/two.png")},
        {server.url("/none"), 60, "16 404 text/html", server.url("/none")},
        {server.url("/slow.png"), 0.3, "error -1001", ""},
        {URL::fileURLWithPath((folder / "missing.png").string()).absoluteString(), 60, "error 2", ""},
        {"ftp://127.0.0.1/two.png", 60, "error -1002", ""},
    };
    std::map<std::string, std::pair<std::string, std::string>> results;
    const std::thread::id main = std::this_thread::get_id();
    // The worker hands each completion on whole, keeping no copy to release on its own thread.
    const auto copies = std::make_shared<std::atomic<int>>(0);
    for (const Case& c : cases) {
        URLSession::shared().dataTask(
            {URL::string(c.address), c.timeout},
            [&, address = c.address, tally = testkit::CopyTally(copies)](
                const std::optional<Data>& data, const std::optional<URLResponse>& response,
                const std::optional<NSError>& error) {
                EXPECT_EQ(std::this_thread::get_id(), main);
                results[address] = error ? std::make_pair("error " + std::to_string(error->code()), std::string())
                                         : std::make_pair(std::to_string(data->size()) + " " +
                                                              (response->statusCode ? std::to_string(*response->statusCode) : "-") +
                                                              " " + response->mimeType,
                                                          response->url->absoluteString());
            });
    }
    EXPECT_TRUE(results.empty());  // nothing completes inside the call
    // The held answer ends in a timeout; then the server may serve the rest.
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] {
        if (results.count(server.url("/slow.png")))
            server.release();
        return results.size() == cases.size();
    }));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(results[c.address].first, c.result);
        EXPECT_EQ(results[c.address].second, c.from);
    }
    EXPECT_EQ(copies->load(), 0);
}
