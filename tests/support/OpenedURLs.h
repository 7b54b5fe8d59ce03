#pragma once

// Header-only, so only programs that link the platform library use it.

#include <string>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/ui/UIApplication.h"

namespace testkit {

// While it lives, URLs handed to the desktop are recorded here instead of
// being opened; the desktop is put back when it goes.
class OpenedURLs {
public:
    explicit OpenedURLs(bool accept = true) {
        UIApplication::shared().setURLOpener([this, accept](const URL& url) {
            urls.push_back(url.absoluteString());
            return accept;
        });
    }
    ~OpenedURLs() { UIApplication::shared().setURLOpener({}); }
    OpenedURLs(const OpenedURLs&) = delete;
    OpenedURLs& operator=(const OpenedURLs&) = delete;

    std::vector<std::string> urls;
};

}  // namespace testkit
