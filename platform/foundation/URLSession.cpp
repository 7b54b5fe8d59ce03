#include "platform/foundation/URLSession.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <mutex>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"

namespace {
// The platform's codes for failed transfers.
constexpr int kBadURL = -1000;
constexpr int kTimedOut = -1001;
constexpr int kUnsupportedURL = -1002;
constexpr int kCannotFindHost = -1003;
constexpr int kCannotConnect = -1004;
constexpr int kNetworkFailed = -1005;
constexpr int kTooManyRedirects = -1007;
constexpr int kTooLarge = -1103;

// Contents larger than these are refused rather than read into memory.
constexpr std::size_t kMaximumFileBytes = std::size_t(1) << 30;
constexpr std::size_t kMaximumTransferBytes = std::size_t(64) << 20;
constexpr long kMaximumRedirects = 10;

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string fileMimeType(const URL& url, const Data& data) {
    static constexpr char kPDF[] = "%PDF-";
    if (data.size() >= 5 && std::equal(kPDF, kPDF + 5, data.begin()))
        return "application/pdf";
    const std::string extension = lowercase(url.pathExtension());
    if (extension == "html" || extension == "htm")
        return "text/html";
    if (extension == "png")
        return "image/png";
    if (extension == "pdf")
        return "application/pdf";
    return "application/octet-stream";
}

struct Transfer {
    Data data;
    bool tooLarge = false;
};

size_t receive(char* bytes, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t length = size * count;
    if (transfer->data.size() + length > kMaximumTransferBytes) {
        transfer->tooLarge = true;
        return 0;  // ends the transfer
    }
    transfer->data.insert(transfer->data.end(), bytes, bytes + length);
    return length;
}

int errorCode(CURLcode code) {
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT: return kTimedOut;
    case CURLE_COULDNT_RESOLVE_HOST: return kCannotFindHost;
    case CURLE_COULDNT_CONNECT: return kCannotConnect;
    case CURLE_TOO_MANY_REDIRECTS: return kTooManyRedirects;
    case CURLE_UNSUPPORTED_PROTOCOL: return kUnsupportedURL;
    case CURLE_URL_MALFORMAT: return kBadURL;
    default: return kNetworkFailed;
    }
}

NSError cancelled(const URL& url) {
    return NSError(URLSessionDataTask::kCancelled, "The transfer of " + url.absoluteString() + " was cancelled.");
}

// Runs the transfer, looking at the task between waits for the network so
// that a cancelled one lets its thread go at once.
CURLcode perform(CURL* curl, const URL& url, const URLSessionDataTask* task) {
    if (!task)
        return curl_easy_perform(curl);
    constexpr int kLookMilliseconds = 20;
    const std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> multi(curl_multi_init(), curl_multi_cleanup);
    if (!multi || curl_multi_add_handle(multi.get(), curl) != CURLM_OK)
        throw NSError(kNetworkFailed, "The network client could not be started.");
    CURLcode result = CURLE_OK;
    for (int running = 1; running;) {
        if (task->isCancelled()) {
            curl_multi_remove_handle(multi.get(), curl);
            throw cancelled(url);
        }
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK ||
            (running && curl_multi_poll(multi.get(), nullptr, 0, kLookMilliseconds, nullptr) != CURLM_OK)) {
            result = CURLE_RECV_ERROR;
            break;
        }
    }
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi.get(), &left))
        if (message->msg == CURLMSG_DONE)
            result = message->data.result;
    curl_multi_remove_handle(multi.get(), curl);
    return result;
}

Data transfer(const URL& url, TimeInterval timeout, URLResponse* response, const URLSessionDataTask* task) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl)
        throw NSError(kNetworkFailed, "The network client could not be started.");
    // Whole milliseconds, at least one; a timeout that is not finite or not
    // positive means the platform's default of a minute.
    const double seconds = std::isfinite(timeout) && timeout > 0 ? std::min(timeout, 86400.0) : 60.0;
    const long milliseconds = std::max(1L, long(seconds * 1000));
    Transfer received;
    char failure[CURL_ERROR_SIZE] = {};
    const std::string address = url.absoluteString();
    curl_easy_setopt(curl.get(), CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, kMaximumRedirects);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, milliseconds);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);  // worker threads: no alarm signals
    curl_easy_setopt(curl.get(), CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaximumTransferBytes));
    curl_easy_setopt(curl.get(), CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl.get(), CURLOPT_USERAGENT, "Orvo Halden");
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, failure);
    const CURLcode result = perform(curl.get(), url, task);
    if (received.tooLarge || result == CURLE_FILESIZE_EXCEEDED)
        throw NSError(kTooLarge, "The resource at " + address + " exceeds the maximum size.");
    if (result != CURLE_OK)
        throw NSError(errorCode(result), "Could not load " + address + ": " +
                                             (failure[0] ? std::string(failure) : curl_easy_strerror(result)) + ".");
    if (response) {
        long status = 0;
        char* effective = nullptr;
        char* type = nullptr;
        curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(curl.get(), CURLINFO_EFFECTIVE_URL, &effective);
        curl_easy_getinfo(curl.get(), CURLINFO_CONTENT_TYPE, &type);
        std::optional<URL> last = effective ? URL::string(effective) : std::nullopt;
        std::string mimeType = type ? lowercase(type) : "";
        mimeType = mimeType.substr(0, mimeType.find(';'));
        while (!mimeType.empty() && mimeType.back() == ' ')
            mimeType.pop_back();
        *response = URLResponse{last ? last : std::optional<URL>(url), int(status), mimeType};
    }
    return std::move(received.data);
}

}  // namespace

Data dataWithRequest(const URLRequest& request, URLResponse* response, const URLSessionDataTask* task) {
    if (!request.url)
        throw NSError(kBadURL, "The request has no URL.");
    const URL& url = *request.url;
    if (task && task->isCancelled())
        throw cancelled(url);
    if (url.isFileURL()) {
        Data data = FileManager::defaultManager().contents(url, kMaximumFileBytes);
        if (response)
            *response = URLResponse{url, std::nullopt, fileMimeType(url, data)};
        return data;
    }
    const std::string scheme = lowercase(url.scheme());
    if (scheme != "http" && scheme != "https")
        throw NSError(kUnsupportedURL, "The URL " + url.absoluteString() + " cannot be loaded: its scheme is not supported.");
    return transfer(url, request.timeoutInterval, response, task);
}

Data dataWithContentsOfURL(const URL& url) { return dataWithRequest(URLRequest{url}); }

URLSession& URLSession::shared() {
    // Never destroyed: transfers may still end while the program exits.
    static URLSession* const session = new URLSession(DispatchQueue::global(), DispatchQueue::main());
    return *session;
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(URLRequest request, Completion completion) {
    auto task = std::make_shared<URLSessionDataTask>();
    if (!completion)
        return task;
    workers_.async([this, task, request = std::move(request), completion = std::move(completion)]() mutable {
        std::optional<Data> data;
        std::optional<URLResponse> response;
        std::optional<NSError> error;
        try {
            URLResponse received;
            data = dataWithRequest(request, &received, task.get());
            response = std::move(received);
        } catch (const NSError& failure) {
            error = failure;
        }
        if (&completions_ == &workers_) {
            completion(data, response, error);
            return;
        }
        // Handed on whole: what the completion holds goes where it runs, not here.
        completions_.async([completion = std::move(completion), data = std::move(data),
                            response = std::move(response),
                            error = std::move(error)] { completion(data, response, error); });
    });
    return task;
}
