#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"

using Data = std::vector<std::uint8_t>;

// A request may name no URL (built from a lookup that found nothing); it
// then loads nothing.
struct URLRequest {
    enum class CachePolicy { useProtocolCachePolicy, reloadIgnoringLocalCacheData, returnCacheDataElseLoad };

    std::optional<URL> url;
    TimeInterval timeoutInterval = 60;
    CachePolicy cachePolicy = CachePolicy::useProtocolCachePolicy;
};

struct URLResponse {
    // Where the content came from: after redirects, the last address.
    std::optional<URL> url;
    std::optional<int> statusCode;  // HTTP responses only
    std::string mimeType;
};

class DispatchQueue;

// One transfer of a session. Cancelling it is safe from any thread: one not
// started never starts, one under way stops within a few milliseconds.
class URLSessionDataTask {
public:
    static constexpr int kCancelled = -999;  // the platform's code for a cancelled transfer

    void cancel() { cancelled_.store(true, std::memory_order_relaxed); }
    bool isCancelled() const { return cancelled_.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> cancelled_{false};
};

// The whole content at a URL, read at once on the calling thread: a regular
// file (up to 1 GiB) or an http(s) transfer (up to 64 MiB, redirects followed,
// the request's timeout). Throws NSError (kCancelled once `task` is
// cancelled); the response, when asked for, tells where the content came
// from and what it is.
Data dataWithContentsOfURL(const URL& url);
Data dataWithRequest(const URLRequest& request, URLResponse* response = nullptr,
                     const URLSessionDataTask* task = nullptr);

// Transfers of whole contents over file, http and https URLs.
class URLSession {
public:
    // Transfers on the global queue, completions on the main queue.
    static URLSession& shared();
    // A session of its own: transfers on `workers`, completions queued on
    // `completions`, or run right after the transfer when that is `workers`.
    URLSession(DispatchQueue& workers, DispatchQueue& completions) : workers_(workers), completions_(completions) {}

    using Completion = std::function<void(const std::optional<Data>& data, const std::optional<URLResponse>& response,
                                          const std::optional<NSError>& error)>;

    // Returns at once; the transfer runs on a worker thread and the
    // completion later, with data and a response or with an error (a request
    // without a URL fails, a cancelled task fails with kCancelled). An HTTP
    // error status is a response, not an error.
    std::shared_ptr<URLSessionDataTask> dataTask(URLRequest request, Completion completion);

private:
    DispatchQueue& workers_;
    DispatchQueue& completions_;
};
