#include "platform/wayland/PortalScreenCapture.h"

#include "core/log/Log.h"
#include "platform/wayland/PortalCast.h"
#include "platform/wayland/ScreenCastPortal.h"

namespace corvane {
namespace {

constexpr uint32_t kChosenDisplayId = 1;
constexpr const char* kSessionClosed = "The screen-sharing session was closed by the system";
constexpr const char* kDeclined =
    "Screen sharing was declined in the system dialog; choose the screen again to record";

bool isFailure(const CaptureError& error, ScreenCastFailure failure) {
    return error.domain == "Portal" && error.code == int32_t(failure);
}

// Ends the cast when it is dropped, so no path can leave a portal session open behind it.
std::shared_ptr<PortalCast> stopped(std::shared_ptr<PortalCast> cast) {
    if (cast) cast->stop();
    return nullptr;
}

class PortalVideoStream final : public CaptureStream {
public:
    explicit PortalVideoStream(std::shared_ptr<PortalCast> cast) : cast_(std::move(cast)) {}
    ~PortalVideoStream() override { stop(); }
    void stop() override { cast_->stop(); }

private:
    std::shared_ptr<PortalCast> cast_;
};

}  // namespace

PortalScreenCaptureBackend::PortalScreenCaptureBackend(Options options)
    : options_(std::move(options)),
      tokens_(options_.stateFile),
      portal_(std::make_shared<ScreenCastPortal>()),
      registry_(std::make_shared<PortalCastRegistry>()) {
    std::weak_ptr<PortalCastRegistry> registry = registry_;
    portal_->setOnSessionClosed([registry](const std::string& sessionHandle) {
        auto casts = registry.lock();
        if (!casts) return;
        if (auto cast = casts->find(sessionHandle)) cast->end(kSessionClosed);
    });
}

PortalScreenCaptureBackend::~PortalScreenCaptureBackend() {
    portal_->abandon();
    std::lock_guard lock(mutex_);
    prepared_ = stopped(std::move(prepared_));
}

bool PortalScreenCaptureBackend::isAvailable() {
    return !declined_.load() && portal_->isReachable();
}

std::string PortalScreenCaptureBackend::unavailableReason() {
    return declined_.load() ? "screen sharing was declined; Settings has Choose Again"
                            : "the desktop's screen-sharing portal cannot be reached";
}

void PortalScreenCaptureBackend::requestAccess() { declined_ = false; }

void PortalScreenCaptureBackend::chooseAgain() {
    tokens_.forget();
    declined_ = false;
}

void PortalScreenCaptureBackend::abandonRequests() { portal_->abandon(); }

CaptureResult<std::shared_ptr<PortalCast>> PortalScreenCaptureBackend::prepareCast(bool showCursor) {
    if (declined_.load()) return CaptureError{"Portal", int32_t(ScreenCastFailure::cancelled), kDeclined};
    std::optional<std::string> token = tokens_.load();
    CaptureResult<ScreenCastGrant> granted = portal_->start({token, showCursor});
    if (!granted && token && isFailure(granted.error(), ScreenCastFailure::failed)) {
        // The remembered screen may be gone, or the token no longer known: one request without it.
        logLine("Screen sharing: the remembered screen was not accepted (" + granted.error().message +
                "); asking again.");
        tokens_.forget();
        token.reset();
        granted = portal_->start({std::nullopt, showCursor});
    }
    if (!granted) {
        const CaptureError& error = granted.error();
        bool askedUser = !token || isFailure(error, ScreenCastFailure::cancelled);
        if (askedUser && !isFailure(error, ScreenCastFailure::unreachable)) {
            // Not asked again by itself: only requestAccess() or chooseAgain() bring the dialog back.
            declined_ = true;
            logLine("Screen sharing: " + error.message + ". Not asking again until requested.");
        }
        return error;
    }
    ScreenCastGrant grant = granted.takeValue();
    // The grant says which token restores it next time (portals may issue a new one each time).
    if (grant.restoreToken) {
        tokens_.save(*grant.restoreToken);
    } else if (token) {
        tokens_.forget();
    }

    auto cast = std::make_shared<PortalCast>(portal_, grant.sessionHandle, showCursor);
    registry_->add(cast);
    auto connected = cast->connect(std::move(grant.pipeWireRemote), grant.nodeId);
    if (!connected) {
        cast->stop();
        return connected.error();
    }
    if (!cast->waitForFormat(options_.formatTimeout)) {
        cast->stop();
        return CaptureError{"PipeWire", 5, "The screen-sharing stream agreed on no picture format"};
    }
    return cast;
}

CaptureResult<ShareableContent> PortalScreenCaptureBackend::shareableContent() {
    std::lock_guard lock(mutex_);
    std::shared_ptr<PortalCast> cast = current_.lock();
    if (!cast || cast->hasEnded()) {
        if (prepared_ && prepared_->hasEnded()) prepared_ = stopped(std::move(prepared_));
        if (!prepared_) {
            auto made = prepareCast(true);
            if (!made) return made.error();
            prepared_ = made.takeValue();
        }
        cast = prepared_;
    }
    auto size = cast->waitForFormat(std::chrono::milliseconds(0));
    if (!size) return CaptureError{"PipeWire", 6, "The screen-sharing stream ended"};
    DisplayInfo display;
    display.id = kChosenDisplayId;
    display.name = "Screen chosen in the system dialog";
    display.width = size->first;
    display.height = size->second;
    display.isMain = true;
    ShareableContent content;
    content.displays.push_back(display);
    return content;
}

CaptureResult<std::unique_ptr<CaptureStream>> PortalScreenCaptureBackend::openVideo(
    const VideoStreamConfig& config, Executor& videoQueue, VideoStreamCallbacks callbacks) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<PortalCast> cast = std::move(prepared_);
    if (cast && (cast->hasEnded() || cast->showsCursor() != config.showsCursor)) {
        cast = stopped(std::move(cast));
    }
    if (!cast) {
        auto made = prepareCast(config.showsCursor);
        if (!made) return made.error();
        cast = made.takeValue();
    }
    cast->beginDelivery(config, videoQueue, std::move(callbacks));
    current_ = cast;
    return std::unique_ptr<CaptureStream>(std::make_unique<PortalVideoStream>(std::move(cast)));
}

}  // namespace corvane
