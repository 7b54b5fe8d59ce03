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

// The whole content at a URL, read at once on the calling thread. Only file
// URLs can be read (regular files up to 1 GiB): there is no network client
// here. Throws NSError.
Data dataWithContentsOfURL(const URL& url);

// A request may name no URL (built from a lookup that found nothing); it
// then loads nothing.
struct URLRequest {
    enum class CachePolicy { useProtocolCachePolicy, reloadIgnoringLocalCacheData, returnCacheDataElseLoad };

    std::optional<URL> url;
    TimeInterval timeoutInterval = 60;
    CachePolicy cachePolicy = CachePolicy::useProtocolCachePolicy;
};

struct URLResponse {
    std::optional<URL> url;
    std::optional<int> statusCode;  // HTTP responses only
    std::string mimeType;
};

// Transfers of whole contents. File URLs are read; every other scheme fails
// with "The URL cannot be loaded: there is no network client.", as a
// transfer without a network would.
class URLSession {
public:
    static URLSession& shared();

    using Completion = std::function<void(const std::optional<Data>& data, const std::optional<URLResponse>& response,
                                          const std::optional<NSError>& error)>;

    // Returns at once; the completion runs later on the main queue, with
    // data and a response or with an error (a request without a URL fails).
    void dataTask(URLRequest request, Completion completion);

private:
    URLSession() = default;
};
