#include "platform/audio/PulseSystemAudio.h"

#include <pulse/error.h>
#include <pulse/pulseaudio.h>
#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "core/capture/CaptureClock.h"

namespace corvane {
namespace {

constexpr const char* kMonitorDevice = "@DEFAULT_MONITOR@";
constexpr int32_t kBlockFrames = 960;  // 20 ms at 48 kHz

pa_simple* openMonitor(const std::string& server, int* error) {
    pa_sample_spec sampleFormat{};
    sampleFormat.format = PA_SAMPLE_FLOAT32LE;
    sampleFormat.rate = uint32_t(AudioBlock::kSampleRate);
    sampleFormat.channels = uint8_t(AudioBlock::kChannels);
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.fragsize = uint32_t(kBlockFrames * AudioBlock::kChannels * sizeof(float));
    attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
    return pa_simple_new(server.empty() ? nullptr : server.c_str(), "Corvane", PA_STREAM_RECORD,
                         kMonitorDevice, "System audio", &sampleFormat, nullptr, &attr, error);
}

// Watches the server for a change of the default sink. Runs its own PulseAudio main-loop thread;
// `changed` is set from there. Absent (not started) when the server cannot be watched, in which
// case the stream simply stays on the sink it opened.
class DefaultSinkWatcher {
public:
    std::atomic<bool> changed{false};

    bool start(const std::string& server) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return false;
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Corvane sink watch");
        if (!context_) return false;
        pa_context_set_state_callback(context_, &DefaultSinkWatcher::onState, this);
        pa_context_set_subscribe_callback(context_, &DefaultSinkWatcher::onEvent, this);
        if (pa_context_connect(context_, server.empty() ? nullptr : server.c_str(),
                               PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        return pa_threaded_mainloop_start(loop_) >= 0;
    }

    ~DefaultSinkWatcher() {
        if (loop_) pa_threaded_mainloop_stop(loop_);
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_) pa_threaded_mainloop_free(loop_);
    }

private:
    static void onState(pa_context* c, void* self) {
        if (pa_context_get_state(c) != PA_CONTEXT_READY) return;
        pa_operation_unref(pa_context_subscribe(c, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr));
        pa_operation_unref(pa_context_get_server_info(c, &DefaultSinkWatcher::onServerInfo, self));
    }
    static void onEvent(pa_context* c, pa_subscription_event_type_t, uint32_t, void* self) {
        pa_operation_unref(pa_context_get_server_info(c, &DefaultSinkWatcher::onServerInfo, self));
    }
    static void onServerInfo(pa_context*, const pa_server_info* info, void* selfPtr) {
        auto* self = static_cast<DefaultSinkWatcher*>(selfPtr);
        if (!info) return;
        std::string sink = info->default_sink_name ? info->default_sink_name : "";
        if (!self->known_) {
            self->known_ = true;
            self->sink_ = sink;
        } else if (sink != self->sink_) {
            self->sink_ = sink;
            self->changed = true;
        }
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool known_ = false;  // main-loop thread only
    std::string sink_;    // main-loop thread only
};

struct AudioState {
    AudioStreamCallbacks callbacks;
    Executor* audioQueue = nullptr;
    std::string server;
    std::mutex mutex;
    bool stopped = false;  // guarded by mutex
    std::atomic<bool> stoppedFlag{false};
};

// Reports the stream's end once, unless it was stopped on purpose. The callback runs after the
// lock is released (callbacks never change after the stream opened); stop() waits for the read
// thread, so it does not return while the call is under way.
void reportStop(AudioState& state, const std::string& text) {
    {
        std::lock_guard lock(state.mutex);
        if (state.stopped) return;
        state.stopped = true;
        state.stoppedFlag = true;
    }
    if (state.callbacks.onStopped) state.callbacks.onStopped(text);
}

void readLoop(const std::shared_ptr<AudioState>& state, pa_simple* stream,
              std::unique_ptr<DefaultSinkWatcher> watcher) {
    AudioStampClock clock(AudioBlock::kSampleRate);
    for (;;) {
        if (state->stoppedFlag.load()) break;
        if (watcher && watcher->changed.exchange(false)) {
            // The user picked another output: follow it to its monitor.
            int error = 0;
            pa_simple* reopened = openMonitor(state->server, &error);
            if (reopened) {
                pa_simple_free(stream);
                stream = reopened;
                clock = AudioStampClock(AudioBlock::kSampleRate);
            }
        }
        AudioBlock block;
        block.samples.resize(size_t(kBlockFrames) * AudioBlock::kChannels);
        int error = 0;
        if (pa_simple_read(stream, block.samples.data(), block.samples.size() * sizeof(float),
                           &error) < 0) {
            reportStop(*state, std::string("PulseAudio read failed: ") + pa_strerror(error));
            break;
        }
        block.pts = clock.stampBlock(kBlockFrames, std::chrono::steady_clock::now());
        std::lock_guard lock(state->mutex);
        if (state->stopped) break;
        state->audioQueue->post([state, block = std::move(block)] {
            if (state->stoppedFlag.load()) return;
            if (state->callbacks.onAudio) state->callbacks.onAudio(block);
        });
    }
    pa_simple_free(stream);
}

class PulseAudioStream final : public CaptureStream {
public:
    PulseAudioStream(std::shared_ptr<AudioState> state, pa_simple* stream,
                     std::unique_ptr<DefaultSinkWatcher> watcher)
        : state_(std::move(state)) {
        std::promise<void> finished;
        finished_ = finished.get_future();
        thread_ = std::thread([state = state_, stream, watcher = std::move(watcher),
                               finished = std::move(finished)]() mutable {
            readLoop(state, stream, std::move(watcher));
            finished.set_value();
        });
    }
    ~PulseAudioStream() override { stop(); }

    void stop() override {
        {
            std::lock_guard lock(state_->mutex);
            state_->stopped = true;
            state_->stoppedFlag = true;
        }
        if (!thread_.joinable()) return;
        // A read returns every 20 ms; a server that stalls must not hold up the caller.
        if (finished_.wait_for(std::chrono::milliseconds(500)) == std::future_status::ready) {
            thread_.join();
        } else {
            thread_.detach();
        }
    }

private:
    std::shared_ptr<AudioState> state_;
    std::thread thread_;
    std::future<void> finished_;
};

}  // namespace

PulseSystemAudioBackend::PulseSystemAudioBackend(std::string server) : server_(std::move(server)) {}

CaptureResult<std::unique_ptr<CaptureStream>> PulseSystemAudioBackend::openSystemAudio(
    Executor& audioQueue, AudioStreamCallbacks callbacks) {
    int error = 0;
    pa_simple* stream = openMonitor(server_, &error);
    if (!stream) return CaptureError{"PulseAudio", error, pa_strerror(error)};
    auto watcher = std::make_unique<DefaultSinkWatcher>();
    if (!watcher->start(server_)) watcher.reset();
    auto state = std::make_shared<AudioState>();
    state->callbacks = std::move(callbacks);
    state->audioQueue = &audioQueue;
    state->server = server_;
    return std::unique_ptr<CaptureStream>(
        std::make_unique<PulseAudioStream>(state, stream, std::move(watcher)));
}

}  // namespace corvane
