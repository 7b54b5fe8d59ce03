#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/URL.h"
#include "platform/web/HTMLFilter.h"

// An untrusted page's work, tried in a child process before this process
// does it: orvo-page-trial filters, parses, styles, lays out and draws the
// page at the view's width, under limits of processor time and resident
// memory watched from outside, since a layout engine's work cannot be
// interrupted where it is done. The page is shown only when its trial
// reached its end within them.
class PageTrial {
public:
    // The trial program gets the page's bytes on kPageDescriptor and its
    // base address (empty when it has none) on kBaseURLDescriptor, not on
    // its command line, which any user of the machine may read; it writes
    // kShown, or kRefused and the number of the budget the page ran out of,
    // on its marker descriptor once it is done.
    static constexpr int kPageDescriptor = 3;
    static constexpr int kBaseURLDescriptor = 5;
    static constexpr char kShown[] = "shown";
    static constexpr char kRefused[] = "refused ";
    // Its exit status when an allocation failed.
    static constexpr int kOutOfMemory = 5;

    // The processor time and resident memory a page's trial may take: enough
    // for an ordinary page of 1 MiB several times over.
    static std::chrono::milliseconds processorTime();
    static std::size_t memoryBytes();

    struct Verdict {
        enum class Kind { shown, refused, failed, cancelled } kind = Kind::failed;
        std::optional<PageBudget> budget;  // when refused
        std::string why;                   // when failed
    };

    // Tries the page at `width` by `height` pixels; blocks until the trial
    // ends, so never on the main thread. Setting `cancelled` ends it early.
    static Verdict run(const std::string& html, const std::optional<URL>& baseURL, int width, int height,
                       std::shared_ptr<const std::atomic<bool>> cancelled = nullptr);
};
