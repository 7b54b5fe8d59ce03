#pragma once

#include <optional>
#include <string>

// Runs the application: makes the delegate of the named class and the window
// with the "Main" storyboard's initial controller, launches, then runs the
// main thread's loop (main queue, timers, drawing, input) until the window
// closes, the process is asked to end (SIGINT, SIGTERM) or the time given
// runs out. At the end every audio engine stops before anything it renders
// is freed. Answers the process's exit status.
//
// Its own arguments:
//   --headless   no window (also taken when there is no display, with one line);
//   --seconds N  quit after N seconds (see UIApplicationSeconds);
//   --screenshot FILE  at the end, write what the window shows as PNG.
// Others are left to the program. A bad value of its own is one line and
// exit status 2.
int UIApplicationMain(int argc, char** argv, const std::optional<std::string>& principalClassName,
                      const std::string& delegateClassName);

// The longest run --seconds asks for: a day.
inline constexpr double kUIApplicationMaxSeconds = 86400;

// A --seconds value: the whole text a finite number above 0 and at most
// kUIApplicationMaxSeconds; none otherwise.
std::optional<double> UIApplicationSeconds(const std::string& text);
