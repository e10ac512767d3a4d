#pragma once

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace corvane {

// Remembers the thread that constructed its owner and checks later calls against it. Active when
// CORVANE_THREAD_CHECKS is defined (the sanitizer and thread-sanitizer builds, which CI runs);
// otherwise empty and free. A wrong thread aborts with the caller's name, so a misplaced call
// shows up in the first test that makes it instead of as a rare data race.
class ThreadChecker {
public:
#ifdef CORVANE_THREAD_CHECKS
    ThreadChecker() : owner_(std::this_thread::get_id()) {}

    void assertOnOwnerThread(const char* where) const
    {
        if (std::this_thread::get_id() != owner_) {
            std::fprintf(stderr, "corvane: %s called off its owner thread\n", where);
            std::abort();
        }
    }

private:
    std::thread::id owner_;
#else
    void assertOnOwnerThread(const char*) const {}
#endif
};

}  // namespace corvane
