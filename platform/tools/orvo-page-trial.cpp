// Does an untrusted page's work for the web view, in a process of its own
// held to limits from outside: filters, parses, styles and lays the page out
// at WIDTH, then draws it whole onto a view WIDTH by HEIGHT pixels. The page
// comes on descriptor 3 and its base address on descriptor 5. Writes
// PageTrial::kShown, or PageTrial::kRefused and the budget the page ran out
// of, on descriptor 4 once done, and exits 0; exits PageTrial::kOutOfMemory
// when an allocation fails.
#include <unistd.h>

#include <algorithm>
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

// What `descriptor` holds, `most` bytes at most, into `into`: false when it cannot be read.
bool readWhole(int descriptor, std::size_t most, std::string& into) {
    char chunk[65536];
    while (into.size() < most) {
        const std::size_t wanted = std::min(sizeof chunk, most - into.size());
        const ssize_t got = ::pread(descriptor, chunk, wanted, static_cast<off_t>(into.size()));
        if (got <= 0)
            return got == 0;
        into.append(chunk, std::size_t(got));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!ChildTrial::bindToParent())
        return 1;
    if (argc != 3) {
        std::fputs("usage: orvo-page-trial WIDTH HEIGHT (the page open on descriptor 3, its base address on 5)\n",
                   stderr);
        return 2;
    }
    std::set_new_handler([] {
        static const char line[] = "orvo-page-trial: out of memory\n";
        (void)!::write(STDERR_FILENO, line, sizeof line - 1);
        ::_exit(PageTrial::kOutOfMemory);
    });
    const int width = std::atoi(argv[1]), height = std::max(1, std::atoi(argv[2]));
    std::string page, address;
    if (!readWhole(PageTrial::kPageDescriptor, kMostBytes, page) ||
        !readWhole(PageTrial::kBaseURLDescriptor, kMostBytes, address))
        return 1;
    const std::optional<URL> baseURL = address.empty() ? std::nullopt : URL::string(address);
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
