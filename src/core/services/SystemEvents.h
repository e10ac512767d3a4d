#pragma once

#include <functional>

namespace corvane {

// What the engine wants to hear about the machine's power and display state. Every handler runs
// on the main thread and only on a real change of state (a repeated "asleep" is not a new sleep).
struct SystemEventHandlers {
    std::function<void()> onSleep;          // the system is about to suspend
    std::function<void()> onWake;           // the system has resumed
    std::function<void()> onScreensSleep;   // the screens were blanked or locked
    std::function<void()> onScreensWake;    // the screens are back
    std::function<void()> onDisplayConfigurationChanged;  // outputs or modes changed
};

// The machine's sleep, screen and display events. Main thread only. A source that does not
// exist on this machine (no logind, no screen saver service) is simply not observed.
class SystemEvents {
public:
    virtual ~SystemEvents() = default;
    // Starts delivering to the handlers. Calling it again replaces the handlers.
    virtual void start(SystemEventHandlers handlers) = 0;
    // No handler runs after stop() returns. Idempotent.
    virtual void stop() = 0;
    // The engine has finished pausing for a sleep: the system may suspend now (releases a held
    // sleep delay, if the source keeps one).
    virtual void sleepPreparationDone() {}
};

}  // namespace corvane
