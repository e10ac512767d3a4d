#pragma once

#include <vector>

#include "core/capture/CaptureBackend.h"
#include "platform/x11/Xcb.h"

namespace corvane::x11 {

// XRandR outputs that are connected and lit (have a CRTC), with their current mode's pixel size
// and origin on the root window; the primary output (else the first) first, then by id. Without
// RandR outputs, the whole root window as display 1.
std::vector<DisplayInfo> listDisplays(Connection& conn);

// Top-level windows from the window manager's _NET_CLIENT_LIST (without a window manager: the
// root's mapped children that carry WM_CLASS), keeping those that are viewable and not
// _NET_WM_STATE_HIDDEN. Title from _NET_WM_NAME, else WM_NAME; application from WM_CLASS's class
// part (else its instance part). Geometry in root coordinates. Windows that vanish while being
// listed are skipped.
std::vector<WindowInfo> listWindows(Connection& conn);

}  // namespace corvane::x11
