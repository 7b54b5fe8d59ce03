#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

// Messages between this program and a child of its own: numbers in this
// machine's order (both ends are the same build), strings with their length.
// A reader never reads past its message: a short or damaged one reads as
// nothing at all, and ok() turns false.
class WireWriter {
public:
    template <class Number>
        requires std::is_arithmetic_v<Number>
    WireWriter& put(Number value) {
        bytes_.append(reinterpret_cast<const char*>(&value), sizeof value);
        return *this;
    }
    WireWriter& put(std::string_view text) {
        put(std::uint64_t(text.size()));
        bytes_.append(text);
        return *this;
    }
    WireWriter& put(const char* text) { return put(std::string_view(text)); }
    WireWriter& put(const std::string& text) { return put(std::string_view(text)); }
    // Bytes the reader takes as they are, to the end of the message.
    WireWriter& rest(std::string_view bytes) {
        bytes_.append(bytes);
        return *this;
    }

    // Zero bytes up to the next multiple of `multiple` from the message's
    // start, so that what follows lies aligned where the message does.
    WireWriter& pad(std::size_t multiple) {
        bytes_.append((multiple - bytes_.size() % multiple) % multiple, '\0');
        return *this;
    }
    std::size_t size() const { return bytes_.size(); }

    std::string take() { return std::move(bytes_); }

private:
    std::string bytes_;
};

class WireReader {
public:
    explicit WireReader(std::string_view bytes) : bytes_(bytes), size_(bytes.size()) {}

    template <class Number>
        requires std::is_arithmetic_v<Number>
    Number get() {
        Number value{};
        if (bytes_.size() < sizeof value) {
            fail();
            return value;
        }
        std::memcpy(&value, bytes_.data(), sizeof value);
        bytes_.remove_prefix(sizeof value);
        return value;
    }
    std::string_view text() {
        const auto size = get<std::uint64_t>();
        if (!ok_ || size > bytes_.size()) {
            fail();
            return {};
        }
        const std::string_view text = bytes_.substr(0, size);
        bytes_.remove_prefix(size);
        return text;
    }
    // Skips what WireWriter::pad put there.
    void skipPadding(std::size_t multiple) {
        const std::size_t padding = (multiple - (size_ - bytes_.size()) % multiple) % multiple;
        if (!ok_ || bytes_.size() < padding) {
            fail();
            return;
        }
        bytes_.remove_prefix(padding);
    }
    // What is left, taken whole.
    std::string_view rest() { return std::exchange(bytes_, std::string_view()); }
    std::size_t left() const { return bytes_.size(); }

    bool ok() const { return ok_; }
    // For what reads a message on top of this: what it read makes no sense.
    void fail() {
        ok_ = false;
        bytes_ = {};
    }

private:

    std::string_view bytes_;
    std::size_t size_ = 0;
    bool ok_ = true;
};
