#pragma once

#include <mutex>

// Lock annotations for clang's -Wthread-safety: a field marked GUARDED_BY(m)
// may only be touched while m is held, a function marked REQUIRES(m) only be
// called with it held, EXCLUDES(m) only without. Other compilers ignore them.
#if defined(__clang__)
#define ORVO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ORVO_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) ORVO_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY ORVO_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) ORVO_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) ORVO_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) ORVO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) ORVO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) ORVO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ORVO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) ORVO_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS ORVO_THREAD_ANNOTATION(no_thread_safety_analysis)

// std::mutex with the annotations libstdc++ does not carry. It is a
// BasicLockable, so std::condition_variable_any waits on it directly.
class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

private:
    std::mutex mutex_;
};

// Holds a Mutex for the scope it lives in.
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() RELEASE() { mutex_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& mutex_;
};
