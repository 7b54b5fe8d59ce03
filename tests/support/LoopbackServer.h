#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testkit {

// A small HTTP/1.0 server on 127.0.0.1 (a port the system picks) for the
// network tests: it answers GET requests from a table of paths, each
// connection on a thread of its own, and is stopped (its port closed) when it
// goes or by stop(). Requests are bounded: 8 KiB of header, two seconds to
// send it.
class LoopbackServer {
public:
    struct Reply {
        Reply(int status_ = 200, std::string contentType_ = "text/html", std::string body_ = "",
              std::string location_ = "", bool held_ = false)
            : status(status_), contentType(std::move(contentType_)), body(std::move(body_)),
              location(std::move(location_)), held(held_) {}
        int status;
        std::string contentType;
        std::string body;
        std::string location;  // sent with a 3xx status
        bool held;             // answered only once release() is called (or the kit's cap has passed)
                               // or never, when the client hangs up first
    };

    explicit LoopbackServer(std::map<std::string, Reply> routes);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by the path.
    std::string url(const std::string& path) const;
    // Requests answered so far.
    int served() const { return served_; }
    // Requests for a path received so far, answered or not.
    int requests(const std::string& path) const;
    // Held requests whose client hung up before the answer, and those held now.
    int abandoned() const { return abandoned_; }
    int holding() const { return holding_; }
    // Lets held replies go.
    void release();
    // Closes the port: later requests cannot connect.
    void stop();

private:
    void serve();
    void answer(int client);
    // Waits for release(); false when the client hung up meanwhile.
    bool heldUntilReleased(int client);

    std::map<std::string, Reply> routes_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<int> served_{0};
    std::atomic<int> abandoned_{0};
    std::atomic<int> holding_{0};
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool open_ = false;
    std::map<std::string, int> requests_;
    std::vector<std::thread> clients_;  // the serving thread's own
    std::thread thread_;
};

}  // namespace testkit
