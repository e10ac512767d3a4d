#include "platform/wayland/PipeWireScreenStream.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace corvane {
namespace {

CaptureError pipeWireError(int32_t code, std::string message) {
    return CaptureError{"PipeWire", code, std::move(message)};
}

void initPipeWireOnce() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

}  // namespace

struct PipeWireScreenStream::Impl {
    Events events;
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    pw_registry* registry = nullptr;
    uint32_t nodeId = 0;
    spa_hook coreListener{};
    spa_hook registryListener{};
    spa_hook streamListener{};
    // Loop thread only.
    spa_video_info_raw format{};
    bool formatKnown = false;
    bool ended = false;
    bool streamed = false;  // reached the streaming state once

    void end(const std::string& reason) {
        if (ended) return;
        ended = true;
        if (events.onEnded) events.onEnded(reason);
    }

    static void onCoreError(void* data, uint32_t id, int /*seq*/, int res, const char* message) {
        auto* self = static_cast<Impl*>(data);
        if (id != PW_ID_CORE) return;
        if (res == -EPIPE) {
            self->end("Lost the connection to PipeWire");
        } else {
            self->end(std::string("PipeWire reported an error: ") + (message ? message : strerror(-res)));
        }
    }

    // A link to a node that goes away only pauses the stream: the node's removal is the end.
    static void onGlobalRemoved(void* data, uint32_t id) {
        auto* self = static_cast<Impl*>(data);
        if (id == self->nodeId) self->end("The screen-sharing stream was removed by the desktop");
    }

    static void onStateChanged(void* data, pw_stream_state /*old*/, pw_stream_state state,
                               const char* error) {
        auto* self = static_cast<Impl*>(data);
        switch (state) {
        case PW_STREAM_STATE_ERROR:
            self->end(std::string("The screen-sharing stream failed: ") + (error ? error : "unknown error"));
            break;
        case PW_STREAM_STATE_UNCONNECTED:
            self->end("The screen-sharing stream was disconnected");
            break;
        case PW_STREAM_STATE_STREAMING:
            self->streamed = true;
            break;
        default:
            break;
        }
    }

    static void onParamChanged(void* data, uint32_t id, const spa_pod* param) {
        auto* self = static_cast<Impl*>(data);
        if (id != SPA_PARAM_Format || param == nullptr) return;
        uint32_t mediaType = 0, mediaSubtype = 0;
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0) return;
        if (mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw) return;
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) < 0) return;
        self->format = info;
        self->formatKnown = true;

        // Shared memory only, mapped by the stream: the bytes are read on the CPU anyway.
        uint8_t buffer[256];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
            SPA_PARAM_BUFFERS_buffers, SPA_POD_CHOICE_RANGE_Int(8, 2, 16),
            SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
        pw_stream_update_params(self->stream, params, 1);
        if (self->events.onFormat) {
            self->events.onFormat(int32_t(info.size.width), int32_t(info.size.height));
        }
    }

    static void onProcess(void* data) {
        auto* self = static_cast<Impl*>(data);
        // Only the newest buffer matters: older queued ones go straight back.
        pw_buffer* newest = nullptr;
        while (pw_buffer* b = pw_stream_dequeue_buffer(self->stream)) {
            if (newest) pw_stream_queue_buffer(self->stream, newest);
            newest = b;
        }
        if (!newest) return;
        const spa_buffer* buffer = newest->buffer;
        if (self->formatKnown && buffer->n_datas > 0) {
            const spa_data& d = buffer->datas[0];
            const spa_chunk* chunk = d.chunk;
            int32_t width = int32_t(self->format.size.width);
            int32_t height = int32_t(self->format.size.height);
            int32_t stride = chunk->stride > 0 ? chunk->stride : width * 4;
            bool whole = d.data != nullptr && chunk->size > 0 &&
                         (chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) == 0 &&
                         size_t(chunk->offset) + size_t(stride) * size_t(height) <= d.maxsize;
            if (whole && self->events.onPicture) {
                PipeWirePicture picture;
                picture.pixels = static_cast<const uint8_t*>(d.data) + chunk->offset;
                picture.strideBytes = stride;
                picture.width = width;
                picture.height = height;
                picture.redFirst = self->format.format == SPA_VIDEO_FORMAT_RGBx ||
                                   self->format.format == SPA_VIDEO_FORMAT_RGBA;
                self->events.onPicture(picture);
            }
        }
        pw_stream_queue_buffer(self->stream, newest);
    }

    ~Impl() {
        if (!loop) return;
        pw_thread_loop_lock(loop);
        if (stream) {
            spa_hook_remove(&streamListener);
            pw_stream_disconnect(stream);
            pw_stream_destroy(stream);
        }
        if (registry) {
            spa_hook_remove(&registryListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
        }
        if (core) {
            spa_hook_remove(&coreListener);
            pw_core_disconnect(core);
        }
        pw_thread_loop_unlock(loop);
        pw_thread_loop_stop(loop);
        if (context) pw_context_destroy(context);
        pw_thread_loop_destroy(loop);
    }
};

PipeWireScreenStream::PipeWireScreenStream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PipeWireScreenStream::~PipeWireScreenStream() = default;

CaptureResult<std::unique_ptr<PipeWireScreenStream>> PipeWireScreenStream::open(int remoteFd,
                                                                                uint32_t nodeId,
                                                                                Events events) {
    initPipeWireOnce();
    auto impl = std::make_unique<Impl>();
    impl->events = std::move(events);
    impl->loop = pw_thread_loop_new("corvane-pipewire", nullptr);
    if (!impl->loop) {
        ::close(remoteFd);
        return pipeWireError(1, "Cannot create a PipeWire loop");
    }
    impl->context = pw_context_new(pw_thread_loop_get_loop(impl->loop), nullptr, 0);
    if (!impl->context || pw_thread_loop_start(impl->loop) < 0) {
        ::close(remoteFd);
        return pipeWireError(1, "Cannot start a PipeWire loop");
    }

    static const pw_core_events coreEvents = {
        .version = PW_VERSION_CORE_EVENTS,
        .error = &Impl::onCoreError,
    };
    static const pw_registry_events registryEvents = {
        .version = PW_VERSION_REGISTRY_EVENTS,
        .global_remove = &Impl::onGlobalRemoved,
    };
    static const pw_stream_events streamEvents = {
        .version = PW_VERSION_STREAM_EVENTS,
        .state_changed = &Impl::onStateChanged,
        .param_changed = &Impl::onParamChanged,
        .process = &Impl::onProcess,
    };

    pw_thread_loop_lock(impl->loop);
    // The core owns the descriptor from here on, also when connecting fails.
    impl->core = pw_context_connect_fd(impl->context, remoteFd, nullptr, 0);
    if (!impl->core) {
        pw_thread_loop_unlock(impl->loop);
        return pipeWireError(2, std::string("Cannot connect to PipeWire: ") + strerror(errno));
    }
    pw_core_add_listener(impl->core, &impl->coreListener, &coreEvents, impl.get());
    impl->nodeId = nodeId;
    impl->registry = pw_core_get_registry(impl->core, PW_VERSION_REGISTRY, 0);
    if (impl->registry) {
        pw_registry_add_listener(impl->registry, &impl->registryListener, &registryEvents, impl.get());
    }
    impl->stream = pw_stream_new(impl->core, "Corvane screen capture",
                                 pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                   "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!impl->stream) {
        pw_thread_loop_unlock(impl->loop);
        return pipeWireError(3, "Cannot create a PipeWire stream");
    }
    pw_stream_add_listener(impl->stream, &impl->streamListener, &streamEvents, impl.get());

    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_rectangle defaultSize = SPA_RECTANGLE(1920, 1080);
    spa_rectangle minSize = SPA_RECTANGLE(1, 1);
    spa_rectangle maxSize = SPA_RECTANGLE(16384, 16384);
    spa_fraction defaultRate = SPA_FRACTION(30, 1);
    spa_fraction minRate = SPA_FRACTION(0, 1);
    spa_fraction maxRate = SPA_FRACTION(1000, 1);
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
        SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
        SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate,
        SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate)));
    int result = pw_stream_connect(
        impl->stream, PW_DIRECTION_INPUT, nodeId,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    pw_thread_loop_unlock(impl->loop);
    if (result < 0) {
        return pipeWireError(4, std::string("Cannot connect to the screen-sharing stream: ") +
                                    strerror(-result));
    }
    return std::unique_ptr<PipeWireScreenStream>(new PipeWireScreenStream(std::move(impl)));
}

}  // namespace corvane
