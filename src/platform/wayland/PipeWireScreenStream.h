#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/capture/CaptureBackend.h"

namespace corvane {

// One picture as PipeWire hands it over: borrowed for the duration of the call.
struct PipeWirePicture {
    const uint8_t* pixels = nullptr;
    int32_t strideBytes = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool redFirst = false;  // RGBx/RGBA byte order; otherwise BGRx/BGRA
};

// A libpipewire consumer of one screen-cast node, on a PipeWire remote the desktop portal opened
// (its file descriptor). It offers the 32-bit RGB formats (BGRx, BGRA, RGBx, RGBA) at any size and
// rate, without DMA-BUF modifiers, so the producer sends shared-memory buffers mapped into this
// process.
//
// Threads: a PipeWire loop thread of its own calls every event. The constructor connects and
// returns at once; the destructor disconnects and stops that thread (bounded: it only waits for a
// callback in progress). After the destructor returns no event is called.
class PipeWireScreenStream {
public:
    struct Events {
        // The negotiated picture size; again whenever the producer changes it.
        std::function<void(int32_t width, int32_t height)> onFormat;
        // A new picture (screen streams send one only when something changed on screen).
        std::function<void(const PipeWirePicture& picture)> onPicture;
        // The stream or the connection ended; at most once.
        std::function<void(const std::string& reason)> onEnded;
    };

    // Takes ownership of `remoteFd` (closed on failure too).
    static CaptureResult<std::unique_ptr<PipeWireScreenStream>> open(int remoteFd, uint32_t nodeId,
                                                                     Events events);
    ~PipeWireScreenStream();
    PipeWireScreenStream(const PipeWireScreenStream&) = delete;
    PipeWireScreenStream& operator=(const PipeWireScreenStream&) = delete;

    struct Impl;

private:
    explicit PipeWireScreenStream(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace corvane
