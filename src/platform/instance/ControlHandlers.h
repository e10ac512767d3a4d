#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/window/CorvaneTab.h"

namespace corvane {

// What `GetStatus` reports over the bus.
struct ControlStatus {
    bool recording = false;
    double bufferedSeconds = 0;
    int64_t memoryBytes = 0;
    bool saving = false;
};

// The end of one clip save: the finished file's path, or the reason it failed.
struct SaveClipOutcome {
    bool ok = false;
    std::string pathOrReason;
    // When ok: "Saved 53 s of the 601 s asked" for a shorter clip, and the other files of a clip
    // saved as several (the video format changed within it); else empty.
    std::string note;
};

// The end of a configuration reload: applied, or why nothing was.
struct ReloadConfigOutcome {
    bool ok = true;
    std::string reason;
};

// The running program's side of the control interface, filled by the app. Every handler is
// called on the thread that owns the ControlService (the main thread). An unset handler makes
// the matching method fail with a "not ready" error instead of pretending to succeed.
struct ControlHandlers {
    std::function<void(CorvaneTab)> showWindow;
    // Starts a save of the last `seconds`; `done` must be called exactly once, from any thread,
    // when the file is complete or the save has failed.
    std::function<void(double seconds, std::function<void(SaveClipOutcome)> done)> saveClip;
    std::function<ReloadConfigOutcome()> reloadConfig;
    std::function<ControlStatus()> getStatus;
};

}  // namespace corvane
