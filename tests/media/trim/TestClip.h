#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::test {

// Writes a real H.264 (+ AAC) MP4 made with libavcodec: each frame shows its own index as a
// barcode, the audio beeps for 100 ms at the start of every second. Keyframe every `gop` frames, no B-frames (like the
// recorder's clips). Returns an empty string on success, else what failed.
struct TestClipSpec {
    int width = 320;
    int height = 240;
    int fps = 30;
    int frames = 180;
    int gop = 30;
    bool audio = true;
};
std::string writeTestClip(const std::string& path, const TestClipSpec& spec = {});

// Decodes a clip the way a player does (edit lists applied, hidden frames dropped).
struct DecodedClip {
    std::string error;
    std::vector<int> frameIndices;  // barcode of each shown frame, in order
    std::vector<double> frameTimes; // presentation time of each shown frame, seconds
    double videoDuration = 0;       // seconds, from the container
    double audioDuration = 0;       // seconds of decoded audio samples (0 without audio)
    double audioStart = 0;          // presentation time of the first audio sample shown
    double firstAudioPacketEnd = 0; // end time of the first stored audio packet (<= 0: pre-roll)
    double leadingRms = 0;          // loudness of the first 10 ms of audio shown
    std::vector<double> audioOnsets;  // times where a beep starts (the source beeps each second)
    int codecId = 0;
    std::vector<uint8_t> extradata;
    int width = 0, height = 0;
};
DecodedClip decodeClip(const std::string& path);

}  // namespace corvane::test
