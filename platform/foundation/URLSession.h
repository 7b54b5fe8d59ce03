#pragma once

#include <cstdint>
#include <functional>
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

// The whole content at a URL, read at once on the calling thread: a regular
// file (up to 1 GiB) or an http(s) transfer (up to 64 MiB, redirects followed,
// the request's timeout). Throws NSError; the response, when asked for, tells
// where the content came from and what it is.
Data dataWithContentsOfURL(const URL& url);
Data dataWithRequest(const URLRequest& request, URLResponse* response = nullptr);

// Transfers of whole contents over file, http and https URLs.
class URLSession {
public:
    static URLSession& shared();

    using Completion = std::function<void(const std::optional<Data>& data, const std::optional<URLResponse>& response,
                                          const std::optional<NSError>& error)>;

    // Returns at once; the transfer runs on a worker thread and the
    // completion later on the main queue, with data and a response or with
    // an error (a request without a URL fails). An HTTP error status is a
    // response, not an error.
    void dataTask(URLRequest request, Completion completion);

private:
    URLSession() = default;
};
