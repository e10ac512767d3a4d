#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/capture/CaptureBackend.h"
#include "platform/wayland/PipeWireScreenStream.h"
#include "platform/wayland/ScreenCastPortal.h"

namespace corvane {

class PictureSlots;
struct PictureSlot;
struct CastDelivery;

// One screen cast the portal granted: its session, the PipeWire stream of it, the newest picture,
// and (once delivering) the pacing thread that hands that picture to the video queue at the
// configured rate.
//
// Threads: the PipeWire thread stores pictures and reports format changes and the stream's end;
// the portal thread may end the cast (session closed); the owner's thread (the capture's control
// lane) waits for the format, starts delivery and stops. end() and stop() may race; whichever
// comes first wins, and onStopped is never called after stop() has begun.
class PortalCast : public std::enable_shared_from_this<PortalCast> {
public:
    PortalCast(std::shared_ptr<ScreenCastPortal> portal, std::string sessionHandle, bool showsCursor);
    ~PortalCast();

    // Connects to the granted node; the stream's events hold this cast weakly.
    CaptureResult<bool> connect(OwnedFd remote, uint32_t nodeId);
    // The picture size PipeWire agreed on; nullopt when none came within `timeout` or the cast
    // ended first.
    std::optional<std::pair<int32_t, int32_t>> waitForFormat(std::chrono::milliseconds timeout);
    // Hands the newest picture to `videoQueue` every 1/fps seconds from now on.
    void beginDelivery(const VideoStreamConfig& config, Executor& videoQueue, VideoStreamCallbacks callbacks);
    // Stops delivering, disconnects from PipeWire and closes the portal session. Idempotent;
    // bounded (PipeWire's teardown only waits for a callback in progress).
    void stop();
    // The cast ended by itself (any thread): reported once through onStopped while delivering.
    void end(const std::string& reason);

    bool hasEnded() const;
    const std::string& sessionHandle() const { return sessionHandle_; }
    bool showsCursor() const { return cursorRequested_; }

private:
    // PipeWire thread.
    void onFormat(int32_t width, int32_t height);
    void onPicture(const PipeWirePicture& picture);
    // Pacing thread.
    void pace(const std::shared_ptr<CastDelivery>& delivery);

    std::shared_ptr<ScreenCastPortal> portal_;
    const std::string sessionHandle_;
    const bool cursorRequested_;
    std::unique_ptr<PipeWireScreenStream> stream_;  // owner's thread
    std::shared_ptr<PictureSlots> slots_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::pair<int32_t, int32_t>> size_;  // guarded by mutex_
    bool ended_ = false;                               // guarded by mutex_
    std::string endReason_;                            // guarded by mutex_
    bool stopped_ = false;                             // guarded by mutex_
    std::shared_ptr<PictureSlot> newest_;              // guarded by mutex_
    std::shared_ptr<CastDelivery> delivery_;           // guarded by mutex_; set once delivering
    std::thread pacer_;                                // owner's thread
};

// Session handle → cast, for the portal's Closed signal. Thread-safe.
class PortalCastRegistry {
public:
    void add(const std::shared_ptr<PortalCast>& cast);
    std::shared_ptr<PortalCast> find(const std::string& sessionHandle);

private:
    std::mutex mutex_;
    std::map<std::string, std::weak_ptr<PortalCast>> casts_;  // guarded by mutex_
};

}  // namespace corvane
