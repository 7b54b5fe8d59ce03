#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "Orvo_Halden_Extension/Extensions.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/ui/UIImageView.h"
#include "tests/support/Geometry.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainQueue.h"
#include "tests/support/StdoutCapture.h"
#include "tests/support/TempFolder.h"

namespace {

std::string runMainQueue(const std::function<void()>& body) {
    testkit::StdoutCapture capture;
    body();
    // Twice: the loader's block, then the log lines it posts.
    DispatchQueue::main().drain();
    DispatchQueue::main().drain();
    return capture.finish();
}

struct Pictures {
    testkit::TempFolder folder;
    std::string png = (folder / "p.png").string();
    std::string text = (folder / "t.txt").string();
    Pictures() {
        ImageSurface({3, 3}).writePNG(png);
        std::FILE* f = std::fopen(text.c_str(), "w");
        std::fputs("not a picture", f);
        std::fclose(f);
    }
};

}  // namespace

TEST(PinToSuperviewEdges, APinnedViewTakesItsParentsBoundsOnEveryPass) {
    auto parent = std::make_shared<UIView>(CGRect(0, 0, 320, 240));
    auto child = std::make_shared<UIView>(CGRect(7, 7, 7, 7));
    auto loose = std::make_shared<UIView>(CGRect(7, 7, 7, 7));
    pinToSuperviewEdges(*loose);  // no superview: nothing happens
    EXPECT_TRUE(loose->translatesAutoresizingMaskIntoConstraints());
    EXPECT_TRUE(loose->constraints().empty());
    parent->addSubview(child);
    pinToSuperviewEdges(*child);
    EXPECT_FALSE(child->translatesAutoresizingMaskIntoConstraints());
    EXPECT_EQ(child->constraints().size(), 4u);
    parent->layoutIfNeeded();
    EXPECT_EQ(child->frame(), parent->bounds());
    parent->setFrame({0, 0, 1024, 768});
    parent->layoutIfNeeded();
    EXPECT_EQ(child->frame(), CGRect(0, 0, 1024, 768));
}

TEST(LoadFrom, SetsAFileImageOnTheMainQueueAndLogsEachFailure) {
    Pictures p;
    testkit::LoopbackServer down({});
    down.stop();
    auto view = std::make_shared<UIImageView>();
    EXPECT_EQ(runMainQueue([&] { loadFrom(view, "file://" + p.png); }), "");
    ASSERT_TRUE(view->image());
    EXPECT_EQ(view->image()->size(), (CGSize{3, 3}));

    const auto before = view->image();
    struct Case {
        std::string address, line;
    };
    const Case cases[] = {
        {"", "UIImageView::loadFrom() : Could not encode url string : \n"},
        {"file://" + p.folder.path().string() + "/none.png", "UIImageView::loadFrom() : Could not encode image data.\n"},
        {down.url("/p.png"), "UIImageView::loadFrom() : Could not encode image data.\n"},
        {"file://" + p.text, "UIImageView::loadFrom() : Could not assign image.\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(runMainQueue([&] { loadFrom(view, c.address); }), c.line) << c.address;
    EXPECT_EQ(view->image(), before);
}

TEST(LoadFrom, AViewGoneBeforeTheReadIsNotKeptAlive) {
    Pictures p;
    auto view = std::make_shared<UIImageView>();
    std::weak_ptr<UIImageView> weak = view;
    const std::string out = runMainQueue([&] {
        loadFrom(view, "file://" + p.png);
        view.reset();
    });
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(out, "UIImageView::loadFrom() : Could not assign image.\n");
}

TEST(GetImageFromURLString, FetchesOffTheMainThreadAndSetsWhatArrivedWhateverTheStatus) {
    Pictures p;
    std::string png;
    {
        std::ifstream in(p.png, std::ios::binary);
        png.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    testkit::LoopbackServer server({{"/p.png", {200, "image/png", png, "", true}},
                                    {"/gone.png", {404, "text/html", "<p>gone</p>"}}});
    auto view = std::make_shared<UIImageView>();
    // The server holds its answer: the call and the main queue go on meanwhile.
    testkit::StdoutCapture capture;
    getImageFromURLString(view, server.url("/p.png"));
    DispatchQueue::main().drain();
    EXPECT_EQ(view->image(), nullptr);
    server.release();
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return view->image() != nullptr; }));
    EXPECT_EQ(capture.finish(), "Fetched image successfully\n");
    EXPECT_EQ(view->image()->size(), (CGSize{3, 3}));

    const auto image = view->image();
    const std::string down = [] {
        testkit::LoopbackServer stopped({});
        return stopped.url("/p.png");
    }();
    struct Case {
        std::string address;
        bool keepsImage;
        std::string printed;  // the start of it
    };
    const Case cases[] = {
        {down, true, "Could not load " + down},
        {"a b", true, ""},
        {server.url("/gone.png"), false, ""},  // an answer that is no picture empties it
        {"file://" + p.text, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        view->setImage(image);
        testkit::StdoutCapture each;
        getImageFromURLString(view, c.address);
        // Until the picture changes or the failure is told; an address that
        // makes no request gets half a second to do something wrong.
        const bool told = !c.printed.empty();
        testkit::drainMainQueueUntil(
            [&] { return view->image() != image || (told && each.text().starts_with(c.printed)); },
            c.keepsImage && !told ? std::chrono::milliseconds(500) : testkit::kPatience);
        EXPECT_EQ(each.finish().substr(0, c.printed.size()), c.printed);
        EXPECT_EQ(view->image() == image, c.keepsImage);
    }
}
