#pragma once

// Scriptable stand-ins for the capture's platform and encoder, counting what was asked of them.

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "core/capture/CaptureBackend.h"
#include "core/capture/VideoEncoder.h"

namespace corvane::testing {

// What the test keeps of a stream; the capture owns a handle that forwards stop() here, so the
// test can still drive the stream after the handle is gone.
struct FakeStream {
    VideoStreamCallbacks video;
    AudioStreamCallbacks audio;
    int stopCalls = 0;

    struct Handle final : CaptureStream {
        explicit Handle(std::shared_ptr<FakeStream> s) : stream(std::move(s)) {}
        void stop() override { ++stream->stopCalls; }
        std::shared_ptr<FakeStream> stream;
    };
    static std::unique_ptr<CaptureStream> open(std::vector<std::shared_ptr<FakeStream>>& into) {
        into.push_back(std::make_shared<FakeStream>());
        return std::make_unique<Handle>(into.back());
    }
};

class FakeScreen : public ScreenCaptureBackend {
public:
    bool available = true;
    std::atomic<int> availabilityChecks{0};
    int accessRequests = 0;
    ShareableContent content;
    std::deque<CaptureError> openFailures;  // consumed one per openVideo
    bool failForever = false;
    std::vector<VideoStreamConfig> opened;
    std::vector<std::shared_ptr<FakeStream>> streams;  // every stream ever opened
    std::function<void()> onOpenHook;  // runs inside openVideo, as if another thread acted then

    FakeScreen() {
        content.displays.push_back({7, "screen", 0, 0, 1920, 1080, true});
        content.displays.push_back({9, "HDMI-1", 1920, 0, 2560, 1440, false});
    }
    bool isAvailable() override {
        ++availabilityChecks;
        return available;
    }
    void requestAccess() override { ++accessRequests; }
    CaptureResult<ShareableContent> shareableContent() override { return content; }
    CaptureResult<std::unique_ptr<CaptureStream>> openVideo(const VideoStreamConfig& config, Executor&,
                                                            VideoStreamCallbacks callbacks) override {
        if (onOpenHook) onOpenHook();
        if (failForever) return CaptureError{"X11", 5, "grab refused"};
        if (!openFailures.empty()) {
            CaptureError e = openFailures.front();
            openFailures.pop_front();
            return e;
        }
        opened.push_back(config);
        auto handle = FakeStream::open(streams);
        streams.back()->video = std::move(callbacks);
        return handle;
    }
    FakeStream& last() { return *streams.back(); }
};

class FakeAudio : public SystemAudioBackend {
public:
    bool fail = false;
    std::vector<std::shared_ptr<FakeStream>> streams;
    CaptureResult<std::unique_ptr<CaptureStream>> openSystemAudio(Executor&, AudioStreamCallbacks callbacks) override {
        if (fail) return CaptureError{"PulseAudio", 6, "Connection refused"};
        auto handle = FakeStream::open(streams);
        streams.back()->audio = std::move(callbacks);
        return handle;
    }
};

// Counts of what one encoder was given; frames arrive on the video queue.
struct EncoderRecord {
    EncoderSettings settings;
    std::atomic<int> encoded{0};
    std::atomic<int> finished{0};
};

class FakeEncoderFactory : public VideoEncoderFactory {
public:
    std::vector<std::shared_ptr<EncoderRecord>> made;
    std::unique_ptr<VideoEncoder> create(const EncoderSettings& settings, std::weak_ptr<VideoPacketSink>) override {
        struct Encoder final : VideoEncoder {
            std::shared_ptr<EncoderRecord> record;
            bool isReady() const override { return true; }
            void encode(const RawVideoFrame&) override { ++record->encoded; }
            void finish() override { ++record->finished; }
        };
        made.push_back(std::make_shared<EncoderRecord>());
        made.back()->settings = settings;
        auto encoder = std::make_unique<Encoder>();
        encoder->record = made.back();
        return encoder;
    }
};

}  // namespace corvane::testing
