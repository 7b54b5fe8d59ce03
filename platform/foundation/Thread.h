#pragma once

// The main thread is the one that loaded the platform library, that is the
// program's initial thread.
struct Thread {
    static bool isMainThread();
};
