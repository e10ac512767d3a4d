#pragma once

#include <cstdio>
#include <cstdlib>
#include <thread>

#if !defined(CORVANE_THREAD_CHECKS) && (!defined(NDEBUG) || defined(__SANITIZE_ADDRESS__) || \
                                         defined(__SANITIZE_THREAD__))
#define CORVANE_THREAD_CHECKS 1
#endif

namespace corvane {

// Remembers the thread that constructed its owner and checks later calls against it. Active in
// debug builds and in the sanitizer builds CI runs (GCC and Clang announce -fsanitize=address and
// -fsanitize=thread with the macros above; RelWithDebInfo defines NDEBUG); otherwise empty and
// free. A wrong thread aborts with the caller's name, so a misplaced call shows up in the first
// test that makes it instead of as a rare data race.
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
