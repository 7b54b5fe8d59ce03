#pragma once

namespace testkit {

// Whether this test program runs under ThreadSanitizer, which shadows every
// byte a program touches and kills a forked child that starts a thread.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif
#else
inline constexpr bool kThreadSanitizer = false;
#endif

} // namespace testkit
