#include <thread>

#include <gtest/gtest.h>

#include "core/sched/ThreadChecker.h"

namespace corvane {
namespace {

#ifdef CORVANE_THREAD_CHECKS

TEST(ThreadCheckerDeathTest, CallFromAnotherThreadAbortsNamingTheCaller) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ThreadChecker checker;
    checker.assertOnOwnerThread("owner call");  // the owner thread passes
    EXPECT_DEATH(
        {
            std::thread other([&] { checker.assertOnOwnerThread("Widget::refresh"); });
            other.join();
        },
        "Widget::refresh called off its owner thread");
}

#endif

}  // namespace
}  // namespace corvane
