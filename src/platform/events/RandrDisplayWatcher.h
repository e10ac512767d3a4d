#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
typedef struct _XDisplay Display;

namespace corvane {

// Display configuration changes (outputs switched on or off, modes, positions, rotation) from
// XRandR, on a connection of its own to the X server named by DISPLAY.
//
// Main thread. One change makes the server send several events; the watcher compares the CRTC
// layout before and after and reports once per real difference. Panel and work-area changes
// do not touch the CRTCs and are never reported (each report restarts capture and empties the
// replay buffer). Without an X display or the RandR extension the watcher stays inactive.
class RandrDisplayWatcher final : public QObject {
    Q_OBJECT
public:
    explicit RandrDisplayWatcher(QObject* parent = nullptr);
    ~RandrDisplayWatcher() override;

    // displayName: nullptr for $DISPLAY.
    bool start(std::function<void()> onChanged, const char* displayName = nullptr);
    void stop();

private:
    void drainEvents();
    std::vector<long> layout() const;

    Display* display_ = nullptr;
    int eventBase_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<long> lastLayout_;
    std::function<void()> onChanged_;
};

}  // namespace corvane
