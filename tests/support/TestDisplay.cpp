#include "tests/support/TestDisplay.h"

#include <signal.h>
#include <sys/prctl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/Patience.h"

namespace testkit {

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string findXvfb() {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        const std::string path = std::string(dir) + "/Xvfb";
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

}  // namespace

const TestDisplay& TestDisplay::shared() {
    static TestDisplay display;
    return display;
}

TestDisplay::TestDisplay() {
    if (const char* display = std::getenv("DISPLAY"); display && *display) {
        hadDisplay_ = true;
        savedDisplay_ = display;
        available_ = true;
        return;
    }
    const std::string xvfb = findXvfb();
    if (xvfb.empty()) {
        reason_ = "no DISPLAY and no Xvfb installed";
        return;
    }
    // A free display number, away from the ones people use.
    int number = 90 + int(::getpid() % 400);
    while (exists("/tmp/.X11-unix/X" + std::to_string(number)) || exists("/tmp/.X" + std::to_string(number) + "-lock"))
        ++number;
    const std::string name = ":" + std::to_string(number);
    server_ = ::fork();
    if (server_ == 0) {
        // A test program that aborts must not leave its server behind.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
        }
        ::execl(xvfb.c_str(), "Xvfb", name.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (server_ < 0) {
        reason_ = "Xvfb could not be started";
        return;
    }
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    // However slow the machine, unless the server gave up.
    bool gaveUp = false;
    waitUntil([&] {
        int status = 0;
        gaveUp = gaveUp || ::waitpid(server_, &status, WNOHANG) == server_;
        return gaveUp || exists(socket);
    });
    if (gaveUp) server_ = -1;
    if (!exists(socket)) {
        reason_ = "Xvfb did not come up";
        return;
    }
    ::setenv("DISPLAY", name.c_str(), 1);
    // No session bus serves this display. Without an address, libdbus would
    // fork a launcher from this many-threaded test, and a sanitised child can
    // deadlock on an allocator lock before it execs. A bus that fails at once
    // lets SDL go on without its screensaver call.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 0);
    available_ = true;
}

TestDisplay::~TestDisplay() {
    if (server_ > 0) {
        ::kill(server_, SIGTERM);
        int status = 0;
        ::waitpid(server_, &status, 0);
    }
    if (hadDisplay_)
        ::setenv("DISPLAY", savedDisplay_.c_str(), 1);
    else
        ::unsetenv("DISPLAY");
}

}  // namespace testkit
