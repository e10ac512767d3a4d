#include "platform/session/DisplayAvailability.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace corvane {
namespace {

// Runs inside the test session, which provides an X server on DISPLAY.
TEST(DisplayAvailability, OpensTheSessionDisplayAndNotAMissingOne) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run inside scripts/with-test-session.sh";
    const std::string saved = std::getenv("DISPLAY");
    const bool session = canOpenX11Display();
    ::setenv("DISPLAY", ":4711", 1);  // no server listens there
    const bool missing = canOpenX11Display();
    ::unsetenv("DISPLAY");
    const bool unset = canOpenX11Display();
    ::setenv("DISPLAY", saved.c_str(), 1);
    EXPECT_TRUE(session);
    EXPECT_FALSE(missing);
    EXPECT_FALSE(unset);
}

}  // namespace
}  // namespace corvane
