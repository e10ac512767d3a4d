#include "media/HardwareAcceleration.h"

#include <mutex>
#include <optional>
#include <string_view>

#include "media/encoder/EncoderCandidates.h"
#include "media/encoder/LiveCodec.h"

namespace corvane {
namespace {

std::string familyName(std::string_view encoder) {
    if (encoder.ends_with("_vaapi")) return "VA-API";
    if (encoder.ends_with("_nvenc")) return "NVIDIA NVENC";
    if (encoder.ends_with("_qsv")) return "Intel Quick Sync";
    return "hardware";
}

bool opens(const std::string& encoder, VideoCodec codec) {
    LiveCodecConfig config;
    config.encoderName = encoder;
    config.codec = codec;
    config.width = 1280;
    config.height = 720;
    config.fps = 30;
    config.bitrateKbps = 8000;
    int status = 0;
    return LiveCodec::open(config, status) != nullptr;
}

// Same order as the encoder's set-up: the chosen codec's dedicated encoders, then (H.264 only)
// the HEVC ones, then the standard software encoder of the chosen codec.
std::string probe(VideoCodec chosen) {
    const EncoderCandidates candidates;
    for (const auto& name : candidates.hardware(chosen))
        if (opens(name, chosen)) return familyName(name) + " (" + name + ")";
    if (chosen == VideoCodec::H264)
        for (const auto& name : candidates.hevcHardware)
            if (opens(name, VideoCodec::HEVC)) return familyName(name) + " (" + name + ")";
    return "none (" + candidates.software(chosen) + " software)";
}

}  // namespace

std::string describeHardwareAcceleration(VideoCodec codec) {
    static std::mutex mutex;
    static std::optional<std::string> cached[2];
    std::lock_guard lock(mutex);
    auto& slot = cached[codec == VideoCodec::HEVC ? 1 : 0];
    if (!slot) slot = probe(codec);
    return *slot;
}

}  // namespace corvane
