#pragma once

namespace corvane {

// Whether screen capture can reach the screen: the X display named by DISPLAY opens. There is
// no permission prompt on X11, so this is the whole start-up "permission" check. Blocks for the
// connection attempt; any thread.
bool canOpenX11Display();

}  // namespace corvane
