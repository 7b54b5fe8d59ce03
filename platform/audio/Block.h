#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

// A shared, immutable callable that may be empty: copies share one closure,
// so keeping or handing one on from the render thread never allocates.
template <class Signature> class Block;

template <class R, class... Args> class Block<R(Args...)> {
public:
    Block() = default;
    Block(std::nullptr_t) {}

    template <class F>
    requires(!std::is_same_v<std::decay_t<F>, Block> && std::is_invocable_r_v<R, F&, Args...>) Block(F f)
        : fn_(std::make_shared<const std::function<R(Args...)>>(std::move(f))) {}

    explicit operator bool() const { return fn_ != nullptr; }

    R operator()(Args... args) const { return (*fn_)(std::forward<Args>(args)...); }

    friend bool operator==(const Block& a, const Block& b) { return a.fn_ == b.fn_; }

private:
    std::shared_ptr<const std::function<R(Args...)>> fn_;
};
