#pragma once

#include <string>

namespace corvane::test {

// Adds a 1280x720 mode to the first output of an X server and keeps it alive (the server drops a
// client's modes when the client goes away). Kept apart from Qt code: X11 headers define macros
// that clash with Qt's.
class XModeKeeper {
public:
    XModeKeeper(const std::string& display, const std::string& modeName);
    ~XModeKeeper();
    XModeKeeper(const XModeKeeper&) = delete;
    XModeKeeper& operator=(const XModeKeeper&) = delete;
    bool ok() const { return ok_; }

private:
    void* display_ = nullptr;
    bool ok_ = false;
};

}  // namespace corvane::test
