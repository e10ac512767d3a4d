// Live encoder throughput, compared with a reference run made by the FFmpeg command line on the
// same frames, from this same process. Saves and buffer memory: save_bench.
//
// Run: bench/run-replay-bench.sh (optimised build, then this program), or
//      <build>/bench/replay_bench [--quick]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/log/Log.h"
#include "media/CorvaneEncoder.h"
#include "media/encoder/LiveCodec.h"

namespace fs = std::filesystem;
using namespace corvane;

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// A few distinct moving BGR0 pictures, reused in turn (making them costs more than encoding).
std::vector<std::vector<uint8_t>> makeFrames(int w, int h, int count) {
    std::vector<std::vector<uint8_t>> frames(size_t(count), std::vector<uint8_t>(size_t(w) * h * 4));
    for (int f = 0; f < count; ++f) {
        uint8_t* p = frames[size_t(f)].data();
        const int bar = (f * 37) % w;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x, p += 4) {
                const bool inBar = x >= bar && x < bar + w / 8;
                const uint32_t noise = uint32_t(x * 2654435761u ^ y * 40503u ^ f * 97u) >> 28;
                p[0] = inBar ? 240 : uint8_t(x + f * 3 + noise);
                p[1] = inBar ? 240 : uint8_t(y + f * 2);
                p[2] = inBar ? 240 : uint8_t((x ^ y) + noise);
                p[3] = 0;
            }
    }
    return frames;
}

class Sink final : public VideoPacketSink {
public:
    void appendVideo(VideoSampleRef packet, bool) override { packets.push_back(std::move(packet)); }
    std::vector<VideoSampleRef> packets;
};

EncoderCandidates softwareOnly() {
    EncoderCandidates c;
    c.h264Hardware.clear();
    c.hevcHardware.clear();
    return c;
}

// CPU seconds (user + system) used so far by this process or by its finished children. On a busy
// machine these compare fairly where wall-clock times do not.
double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto sec = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return sec(usage.ru_utime) + sec(usage.ru_stime);
}

double runCommand(const std::string& command, double* cpu = nullptr) {
    const auto start = Clock::now();
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    const int rc = std::system((command + " >/dev/null 2>&1").c_str());
    if (rc != 0) return -1;
    if (cpu) *cpu = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    return since(start);
}

// Encodes frames with the live encoder; returns the packets and the frames per second.
std::vector<VideoSampleRef> encodeRun(int w, int h, int frames, int kbps, double& fps,
                                      const std::vector<std::vector<uint8_t>>& pictures) {
    auto sink = std::make_shared<Sink>();
    EncoderSettings s;
    s.width = w;
    s.height = h;
    s.fps = 30;
    s.bitrateKbps = kbps;
    CorvaneEncoder encoder(s, sink, softwareOnly());
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        RawVideoFrame f;
        f.pixels = pictures[size_t(i) % pictures.size()].data();
        f.strideBytes = w * 4;
        f.width = w;
        f.height = h;
        f.pts = MediaTime(i, 30);
        encoder.encode(f);
    }
    encoder.finish();
    fps = frames / since(start);
    return sink->packets;
}

void benchEncoder(const fs::path& scratch, int frames) {
    std::printf("\n== Live encoder (libx264, software; %d frames of a moving picture) ==\n", frames);
    for (auto [w, h, kbps] : {std::tuple{1280, 720, 8000}, std::tuple{1920, 1080, 12000}}) {
        const auto pictures = makeFrames(w, h, 30);
        double fps = 0;
        encodeRun(w, h, frames, kbps, fps, pictures);
        const fs::path raw = scratch / "frames.bgr0";
        {
            std::ofstream out(raw, std::ios::binary);
            for (int i = 0; i < frames; ++i)
                out.write(reinterpret_cast<const char*>(pictures[size_t(i) % pictures.size()].data()),
                          std::streamsize(pictures[0].size()));
        }
        const RateControl rc = rateControlFor(kbps);
        char cmd[1024];
        std::snprintf(cmd, sizeof cmd,
                      "ffmpeg -hide_banner -y -f rawvideo -pix_fmt bgr0 -s %dx%d -r 30 -i %s "
                      "-sws_flags fast_bilinear -pix_fmt yuv420p -c:v libx264 -preset %s -tune zerolatency "
                      "-profile:v high -x264-params scenecut=0 -g 30 -bf 0 -b:v %lld -maxrate %lld "
                      "-bufsize %d -flags +global_header -f null -",
                      w, h, raw.c_str(), softwarePresetFor(w, h, 30), (long long)rc.averageBitsPerSecond,
                      (long long)rc.maxBitsPerSecond, rc.bufferBits);
        const double refSeconds = runCommand(cmd);
        fs::remove(raw);
        if (refSeconds > 0) {
            const double refFps = frames / refSeconds;
            std::printf("%dx%d  preset %-9s  ours %7.1f fps   ffmpeg CLI %7.1f fps   ratio %.2f\n", w, h,
                        softwarePresetFor(w, h, 30), fps, refFps, fps / refFps);
        } else {
            std::printf("%dx%d  preset %-9s  ours %7.1f fps   (ffmpeg CLI reference unavailable)\n", w, h,
                        softwarePresetFor(w, h, 30), fps);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    setLogSinkForTesting([](const std::string&) {});
    const fs::path scratch = fs::temp_directory_path() / ("corvane-bench-" + std::to_string(getpid()));
    fs::create_directories(scratch);

    benchEncoder(scratch, quick ? 90 : 300);

    fs::remove_all(scratch);
    return 0;
}
