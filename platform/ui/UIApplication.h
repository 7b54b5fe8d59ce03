#pragma once

#include <any>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/ui/UIResponder.h"

// The running application, one per process. It hands URLs that the program
// cannot show itself to the desktop (xdg-open). Tests put a recorder in the
// desktop's place, so nothing is opened while they run.
class UIApplication : public UIResponder {
public:
    static UIApplication& shared();

    using OpenExternalURLOptions = std::map<std::string, std::any>;
    // Hands the URL over and returns at once; the completion, when given,
    // runs later on the main queue with whether the hand-over succeeded.
    void open(const URL& url, const OpenExternalURLOptions& options = {},
              std::function<void(bool)> completion = {});

    // What takes the URLs; answers whether it took the URL. An empty opener
    // puts the desktop back.
    using URLOpener = std::function<bool(const URL&)>;
    void setURLOpener(URLOpener opener);

    // Starts xdg-open on the URL without waiting for it; false (with a log
    // line) when there is no desktop session or the program cannot start.
    static bool openOnDesktop(const URL& url);

private:
    UIApplication() = default;

    URLOpener opener_;
};
