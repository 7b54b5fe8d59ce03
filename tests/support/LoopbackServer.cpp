#include "tests/support/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "tests/support/Patience.h"

namespace testkit {

namespace {

constexpr std::size_t kMaximumHeader = 8192;

const char* reason(int status) {
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 404: return "Not Found";
    default: return "Status";
    }
}

void sendAll(int socket, const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(socket, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += std::size_t(n);
    }
}

}  // namespace

LoopbackServer::LoopbackServer(std::map<std::string, Reply> routes) : routes_(std::move(routes)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(wake_, O_CLOEXEC) != 0)
        throw std::runtime_error("LoopbackServer: could not listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LoopbackServer::~LoopbackServer() {
    stop();
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
}

std::string LoopbackServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int LoopbackServer::requests(const std::string& path) const {
    const std::lock_guard lock(mutex_);
    const auto found = requests_.find(path);
    return found == requests_.end() ? 0 : found->second;
}

void LoopbackServer::release() {
    const std::lock_guard lock(mutex_);
    open_ = true;
    released_.notify_all();
}

void LoopbackServer::stop() {
    if (!thread_.joinable())
        return;
    stopping_ = true;
    release();
    const char stop = 's';
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &stop, 1);
    thread_.join();
    for (std::thread& client : clients_)
        client.join();
    clients_.clear();
    ::close(listener_);
    listener_ = -1;
}

void LoopbackServer::serve() {
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        clients_.emplace_back([this, client] {
            answer(client);
            ::close(client);
        });
    }
}

bool LoopbackServer::heldUntilReleased(int client) {
    ++holding_;
    const auto until = std::chrono::steady_clock::now() + kPatience;
    bool gone = false;
    std::unique_lock lock(mutex_);
    while (!open_ && !gone && std::chrono::steady_clock::now() < until) {
        released_.wait_for(lock, std::chrono::milliseconds(20));
        // A client that gave up has closed its end: the socket reads as ended.
        pollfd fd{client, POLLIN, 0};
        char byte;
        gone = ::poll(&fd, 1, 0) > 0 && ::recv(client, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
    }
    lock.unlock();
    if (gone)
        ++abandoned_;
    --holding_;
    return !gone;
}

void LoopbackServer::answer(int client) {
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaximumHeader) {
        // A busy machine's client may be slow to ask: it gets the kit's
        // patience, and the server's end does not wait for it.
        pollfd fd{client, POLLIN, 0};
        const auto until = std::chrono::steady_clock::now() + kPatience;
        while (::poll(&fd, 1, 20) == 0)
            if (stopping_ || std::chrono::steady_clock::now() > until)
                return;
        if (!(fd.revents & POLLIN))
            return;
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        request.append(buffer, std::size_t(n));
    }
    // "GET /path HTTP/1.1"
    const std::size_t start = request.find(' ') + 1, end = request.find(' ', start);
    std::string path = start == 0 || end == std::string::npos ? "" : request.substr(start, end - start);
    path = path.substr(0, path.find('?'));
    {
        const std::lock_guard lock(mutex_);
        ++requests_[path];
    }
    const auto route = routes_.find(path);
    const Reply reply = route != routes_.end() ? route->second : Reply{404, "text/html", "<p>Not here.</p>", ""};
    std::string head = "HTTP/1.0 " + std::to_string(reply.status) + " " + reason(reply.status) +
                       "\r\nContent-Type: " + reply.contentType +
                       "\r\nContent-Length: " + std::to_string(reply.body.size()) + "\r\nConnection: close\r\n";
    if (reply.held && !heldUntilReleased(client))
        return;
    if (!reply.location.empty())
        head += "Location: " + reply.location + "\r\n";
    sendAll(client, head + "\r\n" + reply.body);
    ++served_;
}

}  // namespace testkit
