#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/URL.h"

// Small helpers both programs carry: log lines, four-character codes, unique
// names and the well-known folders.

// The code's four bytes, most significant first, as Mac OS Roman text ("aumf");
// "FAIL" if they do not decode.
std::string stringValue(std::uint32_t code);

// prefix + "-" + a globally unique string, or the unique string alone without a prefix.
std::string uniqueName(const std::optional<std::string>& withPrefix);

// Writes one line to standard output at once, on the calling thread.
void printLine(std::string_view text);

// A list as the log shows lists: ["a", "b"].
std::string describeList(const std::vector<std::string>& items);

// Writes one line to standard output from the main queue: callable from any
// thread, returns at once, and lines appear in call order when the main run
// loop next runs. The two names behave alike.
void safeprint(std::string text);
void debugprint(std::string text);

// True when a folder is at the URL or could be made there (with every missing
// level); otherwise logs an ERROR line and returns false. A plain file in the
// way counts as a failure.
[[nodiscard]] bool ensureDirectoryExists(const URL& url);

// Fills documentsURL and resourcesURL and logs them.
void getPaths();

class UIImageView;
class UIView;

// Makes the view follow its superview's edges (top, leading, bottom,
// trailing) from the next layout pass on; a view without a superview is left as it is.
void pinToSuperviewEdges(UIView& view);

// Fills the image view from the URL on the main queue, reading the whole
// content there; failures are logged. The view is held weakly meanwhile.
void loadFrom(const std::shared_ptr<UIImageView>& imageView, const std::string& URLAddress);

// Fetches the URL through the shared session and sets the view's image from
// what arrives (none when it is not an image); returns at once. A text that
// forms no URL does nothing.
void getImageFromURLString(const std::shared_ptr<UIImageView>& imageView, const std::string& imageURLString);

extern std::optional<URL> documentsURL;
extern std::optional<URL> resourcesURL;
extern const std::optional<URL> sharedURLAudio;
extern const std::optional<URL> sharedURLMIDI;

extern const std::array<std::string_view, 197> capitals;
