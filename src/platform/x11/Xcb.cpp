#include "platform/x11/Xcb.h"

#include <sys/socket.h>

#include <cstring>
#include <mutex>

namespace corvane::x11 {

Connection::Connection(const char* displayName) {
    int screenNumber = 0;
    {
        // xcb_connect reads the authority file name through libXau's XauFileName, which keeps it
        // in one static buffer: two threads connecting at once (the capture lane and the settings
        // tab's source list) would write it together. Qt's own connection is made on the main
        // thread before any of ours.
        static std::mutex connectMutex;
        std::lock_guard lock(connectMutex);
        conn_ = xcb_connect(displayName, &screenNumber);
    }
    if (xcb_connection_has_error(conn_)) return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn_));
    for (int i = 0; it.rem; ++i, xcb_screen_next(&it)) {
        if (i == screenNumber) {
            screen_ = it.data;
            break;
        }
    }
}

Connection::~Connection() {
    if (conn_) xcb_disconnect(conn_);
}

int Connection::bitsPerPixel(uint8_t depth) const {
    if (!ok()) return 0;
    const xcb_setup_t* setup = xcb_get_setup(conn_);
    xcb_format_iterator_t it = xcb_setup_pixmap_formats_iterator(setup);
    for (; it.rem; xcb_format_next(&it)) {
        if (it.data->depth == depth) return it.data->bits_per_pixel;
    }
    return 0;
}

void Connection::shutdownSocket() {
    if (conn_) ::shutdown(xcb_get_file_descriptor(conn_), SHUT_RDWR);
}

xcb_atom_t Connection::atom(const char* name) {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        conn_, xcb_intern_atom(conn_, 0, uint16_t(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::optional<std::vector<uint8_t>> Connection::property(xcb_window_t window, xcb_atom_t property,
                                                         xcb_atom_t type) {
    if (property == XCB_ATOM_NONE) return std::nullopt;
    // 1 MiB of 32-bit units is far beyond any title or client list.
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        conn_, xcb_get_property(conn_, 0, window, property, type, 0, 1u << 18), nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE) return std::nullopt;
    auto* data = static_cast<const uint8_t*>(xcb_get_property_value(reply.get()));
    int length = xcb_get_property_value_length(reply.get());
    return std::vector<uint8_t>(data, data + length);
}

std::optional<std::vector<uint32_t>> Connection::property32(xcb_window_t window,
                                                            xcb_atom_t property, xcb_atom_t type) {
    auto bytes = this->property(window, property, type);
    if (!bytes) return std::nullopt;
    std::vector<uint32_t> values(bytes->size() / 4);
    std::memcpy(values.data(), bytes->data(), values.size() * 4);
    return values;
}

std::string describeError(const xcb_generic_error_t* error) {
    if (!error) return "unknown X error";
    static const char* const kNames[] = {
        "Success",  "BadRequest", "BadValue",  "BadWindow",         "BadPixmap",
        "BadAtom",  "BadCursor",  "BadFont",   "BadMatch",          "BadDrawable",
        "BadAccess", "BadAlloc",  "BadColor",  "BadGC",             "BadIDChoice",
        "BadName",  "BadLength",  "BadImplementation"};
    std::string name = error->error_code < sizeof(kNames) / sizeof(kNames[0])
                           ? kNames[error->error_code]
                           : "extension error";
    return "X error " + std::to_string(error->error_code) + " (" + name + ") on request " +
           std::to_string(error->major_code);
}

}  // namespace corvane::x11
