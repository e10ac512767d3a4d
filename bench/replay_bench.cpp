// Replay pipeline figures: live encoder throughput, save time from request to finished file, and
// the replay buffer's memory per buffered byte. Each figure is compared with a reference run made
// by the FFmpeg command line on the same data, from this same process.
//
// Run: bench/run-replay-bench.sh (optimised build, then this program), or
//      <build>/bench/replay_bench [--quick]
#include <malloc.h>
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
#include "core/replay/CorvaneRingBuffer.h"
#include "media/CorvaneEncoder.h"
#include "media/CorvaneExporter.h"
#include "platform/files/LocalClipFiles.h"
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

// Heap bytes in use (small blocks plus mmapped large ones): what the buffer's samples really cost.
long heapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return long(info.uordblks + info.hblkhd);
}

long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// Fills the buffer with `seconds` of 1080p30 at 12 Mbit/s: ten real seconds encoded once, their
// closed one-second groups repeated with new time stamps (each copy owns its bytes), and 20 ms
// blocks of a stereo sine.
void fillBuffer(CorvaneRingBuffer& buffer, const std::vector<VideoSampleRef>& tenSeconds, double seconds) {
    const int total = int(seconds * 30);
    for (int i = 0; i < total; ++i) {
        const VideoPacket& src = *tenSeconds[size_t(i) % tenSeconds.size()];
        auto p = std::make_shared<VideoPacket>(src);
        p->pts = MediaTime(int64_t(i) * 3000, 90000);
        buffer.appendVideo(std::move(p), src.isKeyframe);
    }
    for (int64_t at = 0; at < int64_t(seconds * 48000); at += 960) {
        AudioBlock b;
        b.pts = MediaTime(at, 48000);
        b.samples.resize(1920);
        for (int i = 0; i < 960; ++i) {
            const double t = double(at + i) / 48000;
            b.samples[2 * size_t(i)] = float(0.25 * std::sin(2 * M_PI * 440 * t));
            b.samples[2 * size_t(i) + 1] = float(0.25 * std::sin(2 * M_PI * 660 * t));
        }
        buffer.appendAudio(b);
    }
}

void benchExport(const fs::path& scratch, const std::vector<VideoSampleRef>& tenSeconds, bool quick) {
    std::printf("\n== Save: request to finished file, 1080p30 12 Mbit/s + stereo AAC ==\n");
    std::printf("(wall-clock seconds; CPU seconds in brackets)\n");
    for (double seconds : quick ? std::vector<double>{60.0} : std::vector<double>{30.0, 60.0, 130.0}) {
        CorvaneRingBuffer buffer(seconds + 1);
        fillBuffer(buffer, tenSeconds, seconds + 1);
        LocalClipFiles files;
        CorvaneExporter exporter(files);
        const fs::path out = scratch / "clips";
        const auto start = Clock::now();
        const double cpuStart = cpuSeconds(RUSAGE_SELF);
        const ClipExportResult result = exporter.exportClip(buffer, seconds, out.string(), false, true);
        const double ours = since(start);
        const double oursCpu = cpuSeconds(RUSAGE_SELF) - cpuStart;
        if (!result.ok()) {
            std::printf("%3.0f s clip: export failed: %s\n", seconds, result.reason.c_str());
            continue;
        }

        // Reference: the same packets and PCM handed to the command line as raw streams.
        const ClipSelection sel = buffer.getSamplesForClip(seconds, true);
        const fs::path video = scratch / "ref.h264", audio = scratch / "ref.f32";
        {
            std::ofstream v(video, std::ios::binary);
            const auto& extradata = sel.clip->video.front()->format->extradata;
            v.write(reinterpret_cast<const char*>(extradata.data()), std::streamsize(extradata.size()));
            for (const auto& p : sel.clip->video)
                v.write(reinterpret_cast<const char*>(p->data.data()), std::streamsize(p->data.size()));
            std::ofstream a(audio, std::ios::binary);
            for (const auto& b : sel.clip->audio)
                a.write(reinterpret_cast<const char*>(b->samples.data()),
                        std::streamsize(b->samples.size() * sizeof(float)));
        }
        const std::string cmd = "ffmpeg -hide_banner -y -f h264 -framerate 30 -i " + video.string() +
                                " -f f32le -ar 48000 -ac 2 -i " + audio.string() +
                                " -c:v copy -c:a aac -b:a 192k -aac_coder fast " + (scratch / "ref.mp4").string();
        double refCpu = 0;
        const double ref = runCommand(cmd, &refCpu);
        std::printf("%3.0f s clip: ours %.3f s [%.3f]   ffmpeg CLI %.3f s [%.3f]   ratio %.2f [%.2f]  (%.1f MB)\n",
                    seconds, ours, oursCpu, ref, refCpu, ref > 0 ? ours / ref : 0.0,
                    refCpu > 0 ? oursCpu / refCpu : 0.0, double(fs::file_size(result.path)) / 1e6);
        fs::remove_all(out);
        fs::remove(video);
        fs::remove(audio);
        fs::remove(scratch / "ref.mp4");
    }
}

void benchMemory(const std::vector<VideoSampleRef>& tenSeconds) {
    std::printf("\n== Replay buffer memory, 130 s of 1080p30 12 Mbit/s + 48 kHz stereo float ==\n");
    const long heapBefore = heapBytes();
    const long residentBefore = residentBytes();
    auto buffer = std::make_unique<CorvaneRingBuffer>(130);
    fillBuffer(*buffer, tenSeconds, 135);
    const long heap = heapBytes() - heapBefore;
    const long resident = residentBytes() - residentBefore;
    const RingBufferStatus s = buffer->getStatus();
    const double samples = double(s.memoryBytes);
    std::printf("held %.1f s: %llu video + %llu audio samples = %.1f MB of sample bytes\n", s.duration,
                (unsigned long long)s.videoCount, (unsigned long long)s.audioCount, samples / 1e6);
    std::printf("heap in use +%.1f MB (overhead %.1f%%), resident +%.1f MB (overhead %.1f%%)\n", heap / 1e6,
                (heap / samples - 1) * 100, resident / 1e6, (resident / samples - 1) * 100);
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    setLogSinkForTesting([](const std::string&) {});
    const fs::path scratch = fs::temp_directory_path() / ("corvane-bench-" + std::to_string(getpid()));
    fs::create_directories(scratch);

    double fps = 0;
    std::vector<VideoSampleRef> tenSeconds;
    {
        const auto pictures = makeFrames(1920, 1080, 30);
        tenSeconds = encodeRun(1920, 1080, 300, 12000, fps, pictures);
    }
    benchMemory(tenSeconds);  // first, before other runs leave freed memory in the heap
    benchEncoder(scratch, quick ? 90 : 300);
    benchExport(scratch, tenSeconds, quick);

    fs::remove_all(scratch);
    return 0;
}
