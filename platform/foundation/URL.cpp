#include "platform/foundation/URL.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace {
std::string currentDirectory() {
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (buffer.size() > (1u << 20)) return "/";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

// Drops empty and "." components; ".." stays, as the path may pass through links.
std::string tidy(std::string_view path) {
    std::string result;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view component = path.substr(pos, end - pos);
        if (!component.empty() && component != ".") {
            result += '/';
            result += component;
        }
        pos = end + 1;
    }
    return result.empty() ? "/" : result;
}

bool keptInURL(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("-._~/!$&'()*+,;=:@").find(static_cast<char>(c)) != std::string_view::npos;
}

// Position of the dot that starts the extension of the last component, or npos.
std::size_t extensionDot(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= slash + 1 || dot + 1 == path.size()) return std::string::npos;
    return dot;
}
} // namespace

URL URL::fileURLWithPath(std::string_view path) {
    if (!path.empty() && path.front() == '/') return URL(tidy(path));
    return URL(tidy(currentDirectory() + "/" + std::string(path)));
}

std::optional<URL> URL::string(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c <= ' ' || c == 0x7F)
            return std::nullopt;
        if (c != '%') {
            decoded += static_cast<char>(c);
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return std::nullopt;
        decoded += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
        i += 2;
    }
    const std::size_t colon = text.find(':');
    const std::size_t firstSlash = text.find('/');
    std::string scheme;
    if (colon != std::string_view::npos && colon > 0 && (firstSlash == std::string_view::npos || colon < firstSlash)) {
        scheme = std::string(text.substr(0, colon));
        for (char& ch : scheme)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    if (scheme == "file") {
        // file://host/path: only the local host is ours to read.
        std::string_view rest = std::string_view(decoded).substr(colon + 1);
        if (rest.starts_with("//")) {
            rest.remove_prefix(2);
            const std::size_t slash = rest.find('/');
            rest = slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);
        }
        return fileURLWithPath(rest.empty() || rest.front() != '/' ? "/" + std::string(rest) : std::string(rest));
    }
    URL url{std::string()};
    url.scheme_ = scheme;
    url.text_ = std::string(text);
    // The path part: after "scheme://host", before a query or fragment.
    std::string_view rest = text.substr(scheme.empty() ? 0 : colon + 1);
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    }
    url.path_ = std::string(rest.substr(0, rest.find_first_of("?#")));
    return url;
}

std::string URL::absoluteString() const {
    if (!isFileURL())
        return text_;
    std::string text = "file://";
    for (const unsigned char c : path_) {
        if (keptInURL(c)) {
            text += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            text += escaped;
        }
    }
    return text;
}

std::string URL::lastPathComponent() const {
    if (path_ == "/") return path_;
    return path_.substr(path_.rfind('/') + 1);
}

std::string URL::pathExtension() const {
    const std::size_t dot = extensionDot(path_);
    return dot == std::string::npos ? std::string() : path_.substr(dot + 1);
}

URL URL::appendingPathComponent(std::string_view component) const {
    return URL(tidy(path_ + "/" + std::string(component)));
}

URL URL::appendingPathExtension(std::string_view extension) const {
    if (extension.empty() || path_ == "/") return *this;
    return URL(tidy(path_ + "." + std::string(extension)));
}

URL URL::deletingLastPathComponent() const {
    const std::size_t slash = path_.rfind('/');
    return URL(slash == 0 ? "/" : path_.substr(0, slash));
}

URL URL::deletingPathExtension() const {
    const std::size_t dot = extensionDot(path_);
    return dot == std::string::npos ? *this : URL(path_.substr(0, dot));
}
