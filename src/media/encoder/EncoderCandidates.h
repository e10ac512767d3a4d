#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "core/replay/Samples.h"

namespace corvane {

// The libavcodec encoders a live session may use, in the order they are tried. "Hardware" lists
// the dedicated encoders of each codec; "software" is the standard encoder used when none of them
// opens. Injectable so tests can force every fallback path without a GPU.
struct EncoderCandidates {
    std::vector<std::string> h264Hardware{"h264_vaapi", "h264_nvenc", "h264_qsv"};
    std::vector<std::string> hevcHardware{"hevc_vaapi", "hevc_nvenc", "hevc_qsv"};
    std::string h264Software = "libx264";
    std::string hevcSoftware = "libx265";

    const std::vector<std::string>& hardware(VideoCodec codec) const {
        return codec == VideoCodec::HEVC ? hevcHardware : h264Hardware;
    }
    const std::string& software(VideoCodec codec) const {
        return codec == VideoCodec::HEVC ? hevcSoftware : h264Software;
    }
    // The same list without the dedicated encoders named in `unusable`.
    EncoderCandidates without(const std::vector<std::string>& unusable) const {
        EncoderCandidates kept = *this;
        for (auto* list : {&kept.h264Hardware, &kept.hevcHardware}) {
            std::erase_if(*list, [&](const std::string& name) {
                return std::find(unusable.begin(), unusable.end(), name) != unusable.end();
            });
        }
        return kept;
    }
};

}  // namespace corvane
