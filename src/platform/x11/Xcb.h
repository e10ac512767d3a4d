#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane::x11 {

// XCB replies and errors are malloc'ed; this frees them.
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;
using Error = std::unique_ptr<xcb_generic_error_t, FreeDeleter>;

// One client connection to the X server. XCB reports errors per request (never through a
// process-wide handler), so a vanished foreign window can never take the process down.
// Not copyable; usable from one thread at a time.
class Connection {
public:
    // nullptr: $DISPLAY. Check ok() afterwards.
    explicit Connection(const char* displayName = nullptr);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool ok() const { return conn_ && !xcb_connection_has_error(conn_); }
    xcb_connection_t* get() const { return conn_; }
    xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_ ? screen_->root : XCB_NONE; }
    // Bits per pixel of Z-pixmap images of the given depth; 0 when the server has no such format.
    int bitsPerPixel(uint8_t depth) const;
    // Makes a blocked request on another thread return with a connection error (stop paths).
    void shutdownSocket();

    xcb_atom_t atom(const char* name);
    // A property as raw bytes (any type), or nullopt when it is missing or the window is gone.
    std::optional<std::vector<uint8_t>> property(xcb_window_t window, xcb_atom_t property,
                                                 xcb_atom_t type = XCB_ATOM_ANY);
    std::optional<std::vector<uint32_t>> property32(xcb_window_t window, xcb_atom_t property,
                                                    xcb_atom_t type);

private:
    xcb_connection_t* conn_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
};

// "Error 3 (BadWindow) on request 14": for stop reports and logs.
std::string describeError(const xcb_generic_error_t* error);

}  // namespace corvane::x11
