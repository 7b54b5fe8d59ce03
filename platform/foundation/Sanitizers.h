#pragma once

// Whether this build runs under AddressSanitizer or ThreadSanitizer: such a
// build runs our code several times slower, and its child programs print
// more as they end.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif
#else
inline constexpr bool kSanitizedBuild = false;
#endif

// What a budget of processor time is multiplied by in such a build, so that
// the work a budget lets through is the same in every build.
inline constexpr double kSanitizerSlowdown = kSanitizedBuild ? 8 : 1;
