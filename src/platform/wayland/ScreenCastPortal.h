#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/capture/CaptureBackend.h"

class QThread;

namespace corvane {

class ScreenCastPortalWorker;

// A file descriptor with one owner.
class OwnedFd {
public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) : fd_(fd) {}
    OwnedFd(OwnedFd&& other) noexcept : fd_(other.release()) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept;
    ~OwnedFd();
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

// How a screen-cast request went wrong (the code of its CaptureError, domain "Portal").
enum class ScreenCastFailure : int32_t {
    unreachable = 1,  // no portal, no ScreenCast interface, or no answer in time
    cancelled = 2,    // the user dismissed the system dialog
    failed = 3,       // the portal or its back end could not start the cast
};

struct ScreenCastOptions {
    std::optional<std::string> restoreToken;  // from an earlier start: skips the dialog
    bool showCursor = true;                   // drawn into the picture where the portal offers it
};

// What the portal granted: one stream of the screen (or window) the user chose.
struct ScreenCastGrant {
    std::string sessionHandle;
    uint32_t nodeId = 0;             // the PipeWire node to read
    int32_t width = 0;               // the stream's size as the portal describes it; 0: not given
    int32_t height = 0;
    uint32_t sourceType = 0;         // 1 monitor, 2 window, 4 virtual
    OwnedFd pipeWireRemote;          // the PipeWire connection the node is visible on
    std::optional<std::string> restoreToken;  // for the next start; none when not kept
    bool cursorEmbedded = false;
};

// The desktop portal's ScreenCast interface (org.freedesktop.portal.ScreenCast) over QtDBus:
// CreateSession, SelectSources (monitor, and window where offered; persist_mode 2 and the restore
// token from version 4 on), Start, OpenPipeWireRemote. Each step's Request object answers with a
// Response signal, which is subscribed to before the call.
//
// Threads: all bus traffic runs on a thread of its own ("corvane-portal") with a private session
// bus connection, so answers and the Closed signal arrive whatever the callers' threads do. The
// public methods may be called from any thread; they run one at a time. Needs a QCoreApplication.
class ScreenCastPortal {
public:
    ScreenCastPortal();
    ~ScreenCastPortal();
    ScreenCastPortal(const ScreenCastPortal&) = delete;
    ScreenCastPortal& operator=(const ScreenCastPortal&) = delete;

    // Blocks briefly: the ScreenCast interface answers on the session bus. Also while a start
    // waits for the dialog.
    bool isReachable();
    // Blocks until the portal granted the cast or refused it; with the system dialog open that is
    // as long as the user takes (at most two minutes).
    CaptureResult<ScreenCastGrant> start(const ScreenCastOptions& options);
    // Closes a session the caller holds. Returns at once.
    void closeSession(const std::string& sessionHandle);
    // Called on the portal thread when the portal closes a session by itself (revoked by the
    // user, compositor gone). Set before the first start.
    void setOnSessionClosed(std::function<void(const std::string& sessionHandle)> callback);
    // Ends a request that waits for an answer and refuses new ones (the program quits).
    void abandon();

private:
    template <typename Job>
    auto runOnPortalThread(Job job) -> decltype(job());

    std::unique_ptr<QThread> thread_;
    ScreenCastPortalWorker* worker_ = nullptr;  // lives on thread_, deleted there
    std::mutex jobMutex_;       // one start at a time; held by the caller while its job runs
    std::atomic<bool> abandoned_{false};
};

}  // namespace corvane
