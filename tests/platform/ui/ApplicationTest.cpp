#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/foundation/DispatchQueue.h"
#include "platform/ui/UIApplication.h"
#include "tests/support/OpenedURLs.h"
#include "tests/support/Patience.h"
#include "tests/support/StdoutCapture.h"
#include "tests/support/TempFolder.h"

TEST(Application, URLsGoToTheOpenerAndTheCompletionHearsOnTheMainQueue) {
    for (const bool accept : {true, false}) {
        testkit::OpenedURLs opened(accept);
        std::optional<bool> result;
        UIApplication::shared().open(*URL::string("https://example.com/a"), {}, [&](bool ok) { result = ok; });
        EXPECT_EQ(result, std::nullopt);
        DispatchQueue::main().drain();
        EXPECT_EQ(result, accept);
        EXPECT_EQ(opened.urls.size(), 1u);
    }
}

TEST(Application, TheDesktopGetsTheURLAsOneArgumentAndWithoutASessionNothingStarts) {
    testkit::TempFolder folder;
    testkit::ScopedEnvironment environment{"PATH", "DISPLAY", "WAYLAND_DISPLAY"};
    const std::filesystem::path fake = folder / "xdg-open", written = folder / "argument";
    std::ofstream(fake) << "#!/bin/sh\nprintf '%s|%s' \"$1\" \"$#\" > '" << written.string() << ".part'\nmv '"
                        << written.string() << ".part' '" << written.string() << "'\n";
    ::chmod(fake.c_str(), 0755);
    testkit::ScopedEnvironment::set("PATH", folder.path().string() + ":/usr/bin:/bin");
    testkit::ScopedEnvironment::set("DISPLAY", ":99");
    const URL url = URL::fileURLWithPath("/tmp/it's; here.html");
    EXPECT_TRUE(UIApplication::openOnDesktop(url));
    // The opener runs on its own: wait for what it wrote.
    EXPECT_TRUE(testkit::waitUntil([&] { return std::filesystem::exists(written); }));
    std::ifstream in(written);
    std::string argument;
    std::getline(in, argument);
    EXPECT_EQ(argument, url.absoluteString() + "|1");

    testkit::ScopedEnvironment::unset("DISPLAY");
    testkit::ScopedEnvironment::unset("WAYLAND_DISPLAY");
    std::filesystem::remove(written);
    testkit::StdoutCapture capture;
    EXPECT_FALSE(UIApplication::openOnDesktop(url));
    EXPECT_EQ(capture.finish(), "UIApplication: no desktop session to open " + url.absoluteString() + " in.\n");
    EXPECT_FALSE(std::filesystem::exists(written));
}
