#pragma once

// Scriptable stand-ins for the capture's platform and encoder, counting what was asked of them.
// FakeScreen also serves the settings' source lists.

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/capture/AudioEncoder.h"
#include "core/capture/CaptureBackend.h"
#include "core/capture/VideoEncoder.h"

namespace corvane::test {

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
    std::optional<std::string> listError;  // set: listing fails with this text
    int listings = 0;                      // shareableContent() calls

    FakeScreen() {
        content.displays.push_back({7, "screen", 0, 0, 1920, 1080, true});
        content.displays.push_back({9, "HDMI-1", 1920, 0, 2560, 1440, false});
    }
    std::string unavailableReason() override { return "cannot open the X display"; }
    bool isAvailable() override {
        ++availabilityChecks;
        return available;
    }
    void requestAccess() override { ++accessRequests; }
    CaptureResult<ShareableContent> shareableContent() override {
        ++listings;
        if (listError) return CaptureError{"X11", 1, *listError};
        return content;
    }
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

// An audio "encoder" that keeps what it was fed and makes one packet per 1024 samples the way AAC
// does: a priming packet first (pts -1024), one frame behind its input, the rest on finish().
// A packet's one byte says whether its frame held sound.
class FakeAudioEncoderFactory : public AudioEncoderFactory {
public:
    struct Run {
        std::vector<float> fed;  // interleaved, as given
        bool finished = false;
    };
    std::vector<std::shared_ptr<Run>> runs;
    bool failToOpen = false;

    std::unique_ptr<AudioEncoder> create() override {
        if (failToOpen) return nullptr;
        struct Encoder final : AudioEncoder {
            std::shared_ptr<Run> run;
            std::shared_ptr<const AudioStreamFormat> format_ = std::make_shared<AudioStreamFormat>();
            int64_t emitted = -1;  // frames made so far, the priming one included
            std::shared_ptr<const AudioStreamFormat> format() const override { return format_; }
            void emitUpTo(int64_t upTo, std::vector<EncodedAudio>& out) {
                for (; emitted < upTo; ++emitted) {
                    bool sound = false;
                    for (int64_t i = std::max<int64_t>(emitted, 0) * 2048; i < std::min<int64_t>((emitted + 1) * 2048, int64_t(run->fed.size())); ++i)
                        sound = sound || run->fed[size_t(i)] != 0;
                    out.push_back({{uint8_t(sound)}, emitted * 1024, 1024});
                }
            }
            bool encode(const float* samples, int64_t frames, std::vector<EncodedAudio>& out) override {
                run->fed.insert(run->fed.end(), samples, samples + frames * 2);
                emitUpTo(int64_t(run->fed.size()) / 2048 - 1, out);
                return true;
            }
            void finish(std::vector<EncodedAudio>& out) override {
                emitUpTo((int64_t(run->fed.size()) + 2047) / 2048, out);
                run->finished = true;
            }
        };
        runs.push_back(std::make_shared<Run>());
        auto encoder = std::make_unique<Encoder>();
        encoder->run = runs.back();
        return encoder;
    }
};

}  // namespace corvane::test
