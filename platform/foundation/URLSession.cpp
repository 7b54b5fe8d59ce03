#include "platform/foundation/URLSession.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"

namespace {
constexpr int kBadURL = -1000;          // the platform's code for a request without a usable URL
constexpr int kUnsupportedURL = -1002;  // the platform's code for a scheme it cannot load
// Contents larger than this are refused rather than read into memory.
constexpr std::size_t kMaximumBytes = std::size_t(1) << 30;
}

Data dataWithContentsOfURL(const URL& url) {
    if (!url.isFileURL())
        throw NSError(kUnsupportedURL, "The URL cannot be loaded: there is no network client.");
    return FileManager::defaultManager().contents(url, kMaximumBytes);
}

URLSession& URLSession::shared() {
    static URLSession session;
    return session;
}

void URLSession::dataTask(URLRequest request, Completion completion) {
    if (!completion)
        return;
    DispatchQueue::main().async([request = std::move(request), completion = std::move(completion)] {
        try {
            if (!request.url)
                throw NSError(kBadURL, "The request has no URL.");
            Data data = dataWithContentsOfURL(*request.url);
            completion(std::move(data), URLResponse{request.url, std::nullopt, {}}, std::nullopt);
        } catch (const NSError& error) {
            completion(std::nullopt, std::nullopt, error);
        }
    });
}
