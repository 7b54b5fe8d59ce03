// Does an untrusted page's work for the web view, in a process of its own
// held to limits from outside: filters, parses, styles and lays the page out
// at WIDTH, then draws it whole onto a view WIDTH by HEIGHT pixels. Writes
// PageTrial::kShown, or PageTrial::kRefused and the budget the page ran out
// of, on descriptor 4 once done, and exits 0; exits PageTrial::kOutOfMemory
// when an allocation fails.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/foundation/ChildTrial.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/web/HTMLDocument.h"
#include "platform/web/PageTrial.h"

namespace {

// At most what the web view reads of a page.
constexpr std::size_t kMostBytes = std::size_t(16) << 20;

}  // namespace

int main(int argc, char** argv) {
    if (!ChildTrial::bindToParent())
        return 1;
    if (argc != 3 && argc != 4) {
        std::fputs("usage: orvo-page-trial WIDTH HEIGHT [BASE-URL] (the page open on descriptor 3)\n", stderr);
        return 2;
    }
    std::set_new_handler([] {
        static const char line[] = "orvo-page-trial: out of memory\n";
        (void)!::write(STDERR_FILENO, line, sizeof line - 1);
        ::_exit(PageTrial::kOutOfMemory);
    });
    const int width = std::atoi(argv[1]), height = std::max(1, std::atoi(argv[2]));
    const std::optional<URL> baseURL = argc == 4 ? URL::string(argv[3]) : std::nullopt;
    std::string page;
    char chunk[65536];
    for (ssize_t got; page.size() < kMostBytes && (got = ::pread(PageTrial::kPageDescriptor, chunk, sizeof chunk,
                                                                 static_cast<off_t>(page.size()))) != 0;) {
        if (got < 0)
            return 1;
        page.append(chunk, std::size_t(got));
    }
    HTMLDocument document(page, baseURL, true);
    document.layout(width);
    // Every part of the page drawn once, in one call: what a view draws of it
    // at a time is a part of this work.
    if (!document.overBudget()) {
        ImageSurface view(CGSize{CGFloat(width), CGFloat(height)});
        view.draw([&](CGContext& context) { document.draw(context, 0, {CGFloat(width), document.height()}); });
    }
    std::fflush(nullptr);
    const bool said = document.overBudget() ? ChildTrial::say(PageTrial::kRefused + std::to_string(int(*document.overBudget())))
                                            : ChildTrial::say(PageTrial::kShown);
    ::_exit(said ? 0 : 1);
}
