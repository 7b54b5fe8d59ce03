#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/graphics/CGGeometry.h"

// How a drawing's design rectangle is placed in a target rectangle: scaled by
// the rule, then centred. `fit` takes the smaller of the two ratios for both
// axes, `fill` the larger, `stretch` each its own, `center` none.
//
// A target equal to the design rectangle, or the zero rectangle, gives the
// design rectangle back and leaves *scale alone; otherwise the factors used
// are written to *scale (when given).
CGRect resizedRect(int rule, const CGRect& rect, const CGRect& target, CGSize* scale);

// One drawing's resizing rule, raw values 0 to 3, keeping the factors of its
// last full computation in `Scale` (a module-wide size), if any.
template <CGSize* Scale>
class ResizingBehavior {
public:
    enum Case : int { fit = 0, fill = 1, stretch = 2, center = 3 };

    constexpr ResizingBehavior(Case c = fit) : case_(c) {}
    // No case for a raw value outside 0...3.
    static constexpr std::optional<ResizingBehavior> fromRawValue(std::int64_t raw) {
        if (raw < fit || raw > center)
            return std::nullopt;
        return ResizingBehavior(static_cast<Case>(raw));
    }
    constexpr int rawValue() const { return case_; }
    constexpr bool operator==(const ResizingBehavior&) const = default;

    CGRect apply(const CGRect& rect, const CGRect& target) const { return resizedRect(case_, rect, target, Scale); }

private:
    Case case_;
};

// A rule hashes by its raw value, as it compares.
template <CGSize* Scale>
struct std::hash<ResizingBehavior<Scale>> {
    std::size_t operator()(const ResizingBehavior<Scale>& rule) const noexcept {
        return std::hash<int>{}(rule.rawValue());
    }
};
