// A session's child for the tests: answers each request as it says.
//   echo TEXT   replies TEXT
//   big N       replies N bytes
//   eat N       replies, then takes N MiB and waits
//   spin [TEXT] spends processor time, never replying (but TEXT first)
//   sleep       waits on nothing, never replying
//   block       writes a byte on descriptor 3, reads one from it, replies
//   crash       aborts
//   exit N      exits with status N
//   babble      replies twice
//   huge        announces a frame longer than any channel carries
//   fds         replies the numbers of its open descriptors: "0 1 2 3 5"
//   env NAME    replies NAME's entry in its environment, "NAME=value" (empty when unset)
//   then N shut     replies, reads the next frame's length and N bytes of it, then
//                   shuts its side of the channel for reading and reads what is left
//                   queued; writes a byte on descriptor 3 and exits once it reads one there
//   then N close    the same, but closes its side of the channel instead
//   then N answer   replies, reads the next frame's length and N bytes of it, replies
//                   "early", then reads on: for each frame it then has whole it writes
//                   "<length> intact\n" on descriptor 3, or "broken at <offset>\n" and
//                   exits with 2 when a byte is not the one sent there (offset % 251)
#include <dirent.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/foundation/ChildSession.h"

namespace {

int number(const std::string& request) { return std::atoi(request.c_str() + request.find(' ') + 1); }

// All but the one the listing itself holds open.
std::string openDescriptors() {
    std::vector<int> open;
    if (DIR* const listing = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(listing))
            if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != ::dirfd(listing))
                open.push_back(std::atoi(entry->d_name));
        ::closedir(listing);
    }
    std::sort(open.begin(), open.end());
    std::string numbers;
    for (const int fd : open)
        numbers += (numbers.empty() ? "" : " ") + std::to_string(fd);
    return numbers;
}

bool readExactly(int from, void* into, std::size_t size) {
    auto* at = static_cast<char*>(into);
    while (size > 0) {
        const ssize_t got = ::read(from, at, size);
        if (got <= 0)
            return false;
        at += got;
        size -= std::size_t(got);
    }
    return true;
}

void tell(const std::string& text) { (void)!::write(3, text.data(), text.size()); }

// Exits, saying where, unless each byte is the one sent at its offset in the frame.
void check(const char* bytes, std::size_t size, std::uint64_t offset) {
    for (std::size_t at = 0; at < size; ++at)
        if (bytes[at] != char((offset + at) % 251)) {
            tell("broken at " + std::to_string(offset + at) + "\n");
            ::_exit(2);
        }
}

// Reads and checks the rest of a frame of `length` bytes, from `offset`.
bool readOn(std::uint64_t length, std::uint64_t offset) {
    char chunk[65536];
    for (std::uint64_t at = offset; at < length;) {
        const std::size_t wanted = std::size_t(std::min<std::uint64_t>(sizeof chunk, length - at));
        if (!readExactly(ChildSession::kChannelDescriptor, chunk, wanted))
            return false;
        check(chunk, wanted, at);
        at += wanted;
    }
    return true;
}

// The "then" requests: what the child does with a frame it has only begun to read.
void midFrame(const std::string& request) {
    ChildSession::reply("ready");
    const std::size_t space = request.find(' ', 5);
    std::uint64_t part = std::strtoull(request.c_str() + 5, nullptr, 10);
    std::uint64_t length = 0;
    std::string had(std::size_t(part), '\0');
    if (!readExactly(ChildSession::kChannelDescriptor, &length, sizeof length) ||
        !readExactly(ChildSession::kChannelDescriptor, had.data(), had.size()))
        ::_exit(1);
    const std::string mode = request.substr(space + 1);
    if (mode == "shut" || mode == "close") {
        if (mode == "close") {
            ::close(ChildSession::kChannelDescriptor);
        } else {
            ::shutdown(ChildSession::kChannelDescriptor, SHUT_RD);
            char chunk[65536];
            while (::read(ChildSession::kChannelDescriptor, chunk, sizeof chunk) > 0) {
            }
        }
        char byte = 'x';
        if (::write(3, &byte, 1) == 1)
            (void)!::read(3, &byte, 1);
        ::_exit(0);
    }
    ChildSession::reply("early");
    check(had.data(), had.size(), 0);
    for (;;) {
        if (!readOn(length, part))
            ::_exit(1);
        tell(std::to_string(length) + " intact\n");
        if (!readExactly(ChildSession::kChannelDescriptor, &length, sizeof length))
            ::_exit(0);
        part = 0;
    }
}

}  // namespace

int main() {
    if (!ChildTrial::bindToParent())
        return 1;
    for (std::string request; ChildSession::nextRequest(request);) {
        if (request.starts_with("echo ")) {
            ChildSession::reply(request.substr(5));
        } else if (request.starts_with("big ")) {
            ChildSession::reply(std::string(std::size_t(number(request)), 'b'));
        } else if (request.starts_with("eat ")) {
            ChildSession::reply("eating");
            const std::size_t bytes = std::size_t(number(request)) << 20;
            auto* volatile eaten = static_cast<char*>(std::malloc(bytes));
            if (eaten)
                std::memset(eaten, 1, bytes);
            ::pause();
        } else if (request == "spin" || request.starts_with("spin ")) {
            if (request != "spin")
                ChildSession::reply(request.substr(5));
            for (std::uint64_t turns = 0;; ++turns)
                asm volatile("" : : "r"(turns));
        } else if (request == "sleep") {
            ::pause();
        } else if (request == "block") {
            char byte = 'x';
            if (::write(3, &byte, 1) != 1 || ::read(3, &byte, 1) != 1)
                return 1;
            ChildSession::reply("unblocked");
        } else if (request == "crash") {
            std::abort();
        } else if (request.starts_with("exit ")) {
            ::_exit(number(request));
        } else if (request == "babble") {
            ChildSession::reply("once");
            ChildSession::reply("twice");
        } else if (request == "huge") {
            const std::uint64_t length = ChildSession::kLargestFrame + 1;
            (void)!::write(ChildSession::kChannelDescriptor, &length, sizeof length);
            ::pause();
        } else if (request == "fds") {
            ChildSession::reply(openDescriptors());
        } else if (request.starts_with("env ")) {
            const std::string name = request.substr(4);
            const char* value = std::getenv(name.c_str());
            ChildSession::reply(value ? name + "=" + value : "");
        } else if (request.starts_with("then ")) {
            midFrame(request);
        }
    }
    return 0;
}
