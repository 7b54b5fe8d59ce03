// Draws one untrusted page for the web view, in a process of its own held to
// limits from outside: reads the page (its address, then its bytes) from
// descriptor 3, then answers the web view's requests (a layout at a width, a
// picture of an area, a tap, a picture the page asked for) one at a time
// until the web view hangs up. Exits PageRenderer::kOutOfMemory when an
// allocation fails.
#include <unistd.h>

#include <cstdio>
#include <new>
#include <string>

#include "platform/foundation/ChildSession.h"
#include "platform/foundation/Wire.h"
#include "platform/web/PageRenderer.h"

namespace {

// At most what the web view reads of a page, and its address.
constexpr std::size_t kMostBytes = (std::size_t(16) << 20) + (std::size_t(1) << 20);

[[noreturn]] void outOfMemory() {
    static const char line[] = "orvo-page-renderer: out of memory\n";
    (void)!::write(STDERR_FILENO, line, sizeof line - 1);
    ::_exit(PageRenderer::kOutOfMemory);
}

}  // namespace

int main(int argc, char**) {
    if (!ChildTrial::bindToParent())
        return 1;
    if (argc != 1) {
        std::fputs("usage: orvo-page-renderer (the page open on descriptor 3, requests on descriptor 5)\n", stderr);
        return 2;
    }
    std::set_new_handler(outOfMemory);
    std::string bytes;
    char chunk[65536];
    for (ssize_t got; bytes.size() < kMostBytes && (got = ::pread(PageRenderer::kPageDescriptor, chunk, sizeof chunk,
                                                                  static_cast<off_t>(bytes.size()))) != 0;) {
        if (got < 0)
            return 1;
        bytes.append(chunk, std::size_t(got));
    }
    ::close(PageRenderer::kPageDescriptor);
    WireReader in(bytes);
    const std::string address(in.text());
    std::string html(in.rest());
    if (!in.ok())
        return 1;
    bytes = std::string();
    PageRenderer page(std::move(html), address.empty() ? std::nullopt : URL::string(address));
    for (std::string request; ChildSession::nextRequest(request);) {
        PageRenderer::Reply answer;
        try {
            answer = page.answer(request);
        } catch (const std::bad_alloc&) {
            outOfMemory();
        }
        if (!ChildSession::reply(answer.bytes, answer.pixels))
            break;
    }
    std::fflush(nullptr);
    ::_exit(0);
}
