#include "platform/ui/UIApplication.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/foundation/DispatchQueue.h"

extern char** environ;

UIApplication& UIApplication::shared() {
    static UIApplication application;
    return application;
}

void UIApplication::setURLOpener(URLOpener opener) { opener_ = std::move(opener); }

void UIApplication::open(const URL& url, const OpenExternalURLOptions&, std::function<void(bool)> completion) {
    const bool handed = opener_ ? opener_(url) : openOnDesktop(url);
    if (completion)
        DispatchQueue::main().async([completion = std::move(completion), handed] { completion(handed); });
}

bool UIApplication::openOnDesktop(const URL& url) {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const std::string text = url.absoluteString();
    if ((!x11 || !*x11) && (!wayland || !*wayland)) {
        std::printf("UIApplication: no desktop session to open %s in.\n", text.c_str());
        std::fflush(stdout);
        return false;
    }
    // An argument vector, never a shell: the URL is one word whatever it holds.
    std::string program = "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(text.c_str()), nullptr};
    pid_t child = -1;
    if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, argv, environ) != 0) {
        std::printf("UIApplication: ERROR: xdg-open could not be started to open %s.\n", text.c_str());
        std::fflush(stdout);
        return false;
    }
    // The browser may take its time; reap the child without holding anyone up.
    std::thread([child] {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}
