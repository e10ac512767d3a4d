#pragma once

#include <memory>
#include <string>

namespace corvane::test {

// Adds a 1280x720 mode called `modeName` to the first output of the X server `display` and keeps
// it while the result lives (the server drops a client's modes when the client goes away). Null
// when that failed. Kept apart from Qt code: X11 headers define macros that clash with Qt's.
std::shared_ptr<void> keepExtraMode(const std::string& display, std::string modeName);

}  // namespace corvane::test
