#pragma once

#include <string_view>

namespace corvane {

// The compression of the live video, from the configuration file's `codec` key to the encoder
// and the packets it makes.
enum class VideoCodec { H264, HEVC };

// "hevc" in any letter case is HEVC; anything else ("h264", unknown, empty) is H.264.
VideoCodec videoCodecFromConfigText(std::string_view text);
// How the file writes it: "h264" or "hevc".
const char* configTextOf(VideoCodec codec);

}  // namespace corvane
