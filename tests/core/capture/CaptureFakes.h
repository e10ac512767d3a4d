#pragma once

// Scriptable stand-ins for the capture's platform and encoder, counting what was asked of them.

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/capture/CaptureBackend.h"
#include "core/capture/VideoEncoder.h"

namespace corvane::testing {

struct FakeStream : CaptureStream {
    VideoStreamCallbacks video;
    AudioStreamCallbacks audio;
    int stopCalls = 0;
    void stop() override { ++stopCalls; }
};

class FakeScreen : public ScreenCaptureBackend {
public:
    bool available = true;
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
    bool isAvailable() override { return available; }
    void requestAccess() override { ++accessRequests; }
    CaptureResult<ShareableContent> shareableContent() override { return content; }
    CaptureResult<std::unique_ptr<CaptureStream>> openVideo(const VideoStreamConfig& config,
                                                            Executor&,
                                                            VideoStreamCallbacks callbacks) override {
        if (onOpenHook) onOpenHook();
        if (failForever) return CaptureError{"X11", 5, "grab refused"};
        if (!openFailures.empty()) {
            CaptureError e = openFailures.front();
            openFailures.pop_front();
            return e;
        }
        opened.push_back(config);
        auto stream = std::make_shared<FakeStream>();
        stream->video = std::move(callbacks);
        streams.push_back(stream);
        return std::unique_ptr<CaptureStream>(new Handle(stream));
    }
    FakeStream& last() { return *streams.back(); }

private:
    // The capture owns the handle; the test keeps the stream to drive it after the handle is gone.
    struct Handle : CaptureStream {
        explicit Handle(std::shared_ptr<FakeStream> s) : stream(std::move(s)) {}
        void stop() override { stream->stop(); }
        std::shared_ptr<FakeStream> stream;
    };
};

class FakeAudio : public SystemAudioBackend {
public:
    bool fail = false;
    std::vector<std::shared_ptr<FakeStream>> streams;
    CaptureResult<std::unique_ptr<CaptureStream>> openSystemAudio(
        Executor&, AudioStreamCallbacks callbacks) override {
        if (fail) return CaptureError{"PulseAudio", 6, "Connection refused"};
        auto stream = std::make_shared<FakeStream>();
        stream->audio = std::move(callbacks);
        streams.push_back(stream);
        struct Handle : CaptureStream {
            std::shared_ptr<FakeStream> s;
            void stop() override { s->stop(); }
        };
        auto h = std::make_unique<Handle>();
        h->s = stream;
        return std::unique_ptr<CaptureStream>(std::move(h));
    }
};

struct FakeEncoder : VideoEncoder {
    EncoderSettings settings;
    std::atomic<int> encoded{0};  // frames arrive on the video queue
    std::atomic<int> finished{0};
    bool isReady() const override { return true; }
    void encode(const RawVideoFrame&) override { ++encoded; }
    void finish() override { ++finished; }
};

class FakeEncoderFactory : public VideoEncoderFactory {
public:
    std::vector<std::shared_ptr<FakeEncoder>> made;  // shared with the capture's unique_ptr via alias
    std::unique_ptr<VideoEncoder> create(const EncoderSettings& settings,
                                         std::weak_ptr<VideoPacketSink>) override {
        auto e = std::make_shared<FakeEncoder>();
        e->settings = settings;
        made.push_back(e);
        struct Forward : VideoEncoder {
            std::shared_ptr<FakeEncoder> e;
            bool isReady() const override { return e->isReady(); }
            void encode(const RawVideoFrame& f) override { e->encode(f); }
            void finish() override { e->finish(); }
        };
        auto f = std::make_unique<Forward>();
        f->e = e;
        return f;
    }
};

}  // namespace corvane::testing
