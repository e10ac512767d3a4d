#include "platform/session/DisplayAvailability.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace corvane {
namespace {

// Runs inside the test session, which provides an X server on DISPLAY.
TEST(DisplayAvailability, OpensTheSessionDisplayAndNotAMissingOne) {
    const char* display = std::getenv("DISPLAY");
    ASSERT_NE(display, nullptr) << "the platform tests need the X server of the test session";
    const std::string saved = display;
    EXPECT_TRUE(canOpenX11Display());

    ::setenv("DISPLAY", ":4711", 1);  // no server listens there
    bool missing = canOpenX11Display();
    ::unsetenv("DISPLAY");
    bool unset = canOpenX11Display();
    ::setenv("DISPLAY", saved.c_str(), 1);
    EXPECT_FALSE(missing);
    EXPECT_FALSE(unset);
}

}  // namespace
}  // namespace corvane
