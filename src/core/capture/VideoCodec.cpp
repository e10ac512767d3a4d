#include "core/capture/VideoCodec.h"

#include <cctype>

namespace corvane {

VideoCodec videoCodecFromConfigText(std::string_view text) {
    constexpr std::string_view kHevc = "hevc";
    if (text.size() != kHevc.size()) return VideoCodec::H264;
    for (size_t i = 0; i < text.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != kHevc[i]) return VideoCodec::H264;
    }
    return VideoCodec::HEVC;
}

const char* configTextOf(VideoCodec codec) { return codec == VideoCodec::HEVC ? "hevc" : "h264"; }

}  // namespace corvane
