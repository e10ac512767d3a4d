// Save figures: the engine's request to the renamed file for 30 s and 130 s clips at 1920x1080,
// 48 fps, 12 Mbit/s with stereo AAC, against the FFmpeg command line remuxing the same packets
// (`ffmpeg -c copy` from the just written, page-cached file: one copy of the bytes); the cost of
// flushing the file to disk; the audio lane's CPU; and the replay buffer's resident memory per
// buffered second with audio held as PCM (before) and as AAC (now).
//
// Run: bench/run-replay-bench.sh save_bench, or <build>/bench/save_bench [--quick]
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/capture/AudioLane.h"
#include "core/engine/CorvaneEngine.h"
#include "core/log/Log.h"
#include "core/replay/CorvaneRingBuffer.h"
#include "core/sched/ManualScheduler.h"
#include "media/CorvaneEncoder.h"
#include "media/CorvaneExporter.h"
#include "media/audio/AacAudioEncoder.h"
#include "platform/files/LocalClipFiles.h"

namespace fs = std::filesystem;
using namespace corvane;

namespace {

using Steady = std::chrono::steady_clock;
constexpr int kFps = 48;
constexpr int kRate = AudioBlock::kSampleRate;

double since(Steady::time_point t) { return std::chrono::duration<double>(Steady::now() - t).count(); }

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto sec = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return sec(usage.ru_utime) + sec(usage.ru_stime);
}

long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

class Sink final : public VideoPacketSink {
public:
    void appendVideo(VideoSampleRef packet, bool) override { packets.push_back(std::move(packet)); }
    std::vector<VideoSampleRef> packets;
};

// Ten seconds of 1080p48 at 12 Mbit/s from the live encoder: a moving picture with some noise.
std::vector<VideoSampleRef> encodeTenSeconds() {
    constexpr int w = 1920, h = 1080;
    std::vector<std::vector<uint8_t>> pictures(24, std::vector<uint8_t>(size_t(w) * h * 4));
    for (size_t f = 0; f < pictures.size(); ++f) {
        uint8_t* p = pictures[f].data();
        const int bar = int(f * 37) % w;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x, p += 4) {
                const bool inBar = x >= bar && x < bar + w / 8;
                const uint32_t noise = uint32_t(x * 2654435761u ^ y * 40503u ^ uint32_t(f) * 97u) >> 28;
                p[0] = inBar ? 240 : uint8_t(x + int(f) * 3 + int(noise));
                p[1] = inBar ? 240 : uint8_t(y + int(f) * 2);
                p[2] = inBar ? 240 : uint8_t((x ^ y) + int(noise));
            }
    }
    auto sink = std::make_shared<Sink>();
    EncoderCandidates software;
    software.h264Hardware.clear();
    software.hevcHardware.clear();
    CorvaneEncoder encoder(EncoderSettings{w, h, kFps, 12000, VideoCodec::H264}, sink, software);
    for (int i = 0; i < 10 * kFps; ++i) {
        RawVideoFrame f;
        f.pixels = pictures[size_t(i) % pictures.size()].data();
        f.strideBytes = w * 4;
        f.width = w;
        f.height = h;
        f.pts = MediaTime(i, kFps);
        encoder.encode(f);
    }
    encoder.finish();
    return sink->packets;
}

AudioBlock toneBlock(int64_t at) {
    AudioBlock b;
    b.pts = MediaTime(at, kRate);
    b.samples.resize(1920);
    for (int i = 0; i < 960; ++i) {
        const double t = double(at + i) / kRate;
        b.samples[2 * size_t(i)] = float(0.25 * std::sin(2 * M_PI * 440 * t));
        b.samples[2 * size_t(i) + 1] = float(0.25 * std::sin(2 * M_PI * 660 * t));
    }
    return b;
}

// Fills the buffer with `seconds` of video (the ten encoded seconds repeated with new stamps,
// each copy owning its bytes) and of audio through the real lane; returns the lane's CPU seconds.
double fillBuffer(CorvaneRingBuffer& buffer, const std::vector<VideoSampleRef>& tenSeconds, double seconds,
                  AudioEncoderFactory& audioEncoders) {
    const int total = int(seconds * kFps);
    for (int i = 0; i < total; ++i) {
        const VideoPacket& src = *tenSeconds[size_t(i) % tenSeconds.size()];
        auto p = std::make_shared<VideoPacket>(src);
        p->pts = MediaTime(int64_t(i) * 90000 / kFps, 90000);
        buffer.appendVideo(std::move(p), src.isKeyframe);
    }
    AudioLane lane(audioEncoders, buffer);
    double laneCpu = 0;
    std::vector<AudioBlock> blocks;  // one second at a time: made before the lane's clock runs
    for (int64_t second = 0; second < int64_t(std::ceil(seconds)); ++second) {
        blocks.clear();
        for (int64_t at = second * kRate; at < (second + 1) * kRate; at += 960) blocks.push_back(toneBlock(at));
        const double cpuStart = cpuSeconds();
        for (const AudioBlock& b : blocks) lane.push(b);
        laneCpu += cpuSeconds() - cpuStart;
    }
    return laneCpu;
}

// Just enough of the recorder around the engine for saves: no capture, hotkeys, tray or sound.
class NoCapture final : public CaptureControl {
public:
    void start(StartCompletion done) override { done(std::nullopt); }
    void stop(std::function<void()> done) override { done(); }
    bool stopAndWait(Duration) override { return true; }
    void restart() override {}
    void checkHealth(bool) override {}
    void updateConfig(const CaptureSettings& s) override { settings_ = s; }
    CaptureSettings settings() const override { return settings_; }
    bool isRunning() const override { return true; }
    std::optional<SteadyTime> recordingStartTime() const override { return std::nullopt; }
    int32_t captureWidth() const override { return 1920; }
    int32_t captureHeight() const override { return 1080; }
    bool hasPermission() const override { return true; }
    void setOnStateChanged(std::function<void(bool)>) override {}

private:
    CaptureSettings settings_;
};
class NoNotifier final : public Notifier {
public:
    void showNotification(const std::string&, const std::string&) override {}
};

struct Figures {
    double seconds = 0;
    std::string path;
};

// The engine's request to the renamed file (the `done` callback runs after the rename).
Figures timedSave(CorvaneEngine& engine, double seconds) {
    std::mutex mutex;
    std::condition_variable cv;
    bool finished = false;
    ClipSaveOutcome outcome;
    const auto start = Steady::now();
    engine.requestClip(seconds, [&](const ClipSaveOutcome& o) {
        std::lock_guard lock(mutex);
        outcome = o;
        finished = true;
        cv.notify_all();
    });
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return finished; });
    const double elapsed = since(start);
    if (!outcome.ok) std::printf("save failed: %s\n", outcome.reason.c_str());
    return {elapsed, outcome.path};
}

double runCommand(const std::string& command) {
    const auto start = Steady::now();
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return -1;
    return since(start);
}

// A recorder's engine with a full buffer, saving through the real exporter.
struct SavingEngine {
    SavingEngine(const fs::path& folder, bool flush, const std::vector<VideoSampleRef>& tenSeconds,
                 AudioEncoderFactory& audioEncoders)
        : exporter(files, SystemClock::instance(), ClipWriteOptions{flush, {}}) {
        AppConfig config;
        config.outputDir = folder.string();
        config.configPath = (folder / "config.toml").string();
        config.maxBufferSeconds = 135;
        config.showMenubar = false;
        engine = std::make_unique<CorvaneEngine>(config, EngineDependencies{
            .scheduler = mainThread, .exporter = exporter, .notifier = notifier,
            .makeCapture = [](const CaptureSettings&, auto) { return std::make_unique<NoCapture>(); },
            .makeHotkeyBackend = {}, .makeTray = [] { return std::make_unique<NoTrayMenu>(); },
            // Virtual wall time: the buffer never turns stale however long the runs take.
            .bufferClock = &mainThread});
        fillBuffer(*engine->ringBuffer(), tenSeconds, 132, audioEncoders);
    }
    Figures save(double seconds) {
        Figures f = timedSave(*engine, seconds);
        mainThread.runDue();  // the engine's main-thread work (saving indicator, watch)
        return f;
    }

    ManualScheduler mainThread;
    LocalClipFiles files;
    CorvaneExporter exporter;
    NoNotifier notifier;
    std::unique_ptr<CorvaneEngine> engine;
};

void benchSaves(const fs::path& scratch, const std::vector<VideoSampleRef>& tenSeconds, bool quick) {
    std::printf("\n== Save: engine request to renamed file, 1920x1080 48 fps 12 Mbit/s + stereo AAC ==\n");
    std::printf("(median of %d runs; reference: `ffmpeg -i clip.mp4 -map 0 -c copy out.mp4` on the clip just\n"
                " written, from the page cache; ratios are ours / reference)\n", quick ? 1 : 3);
    AacAudioEncoderFactory audioEncoders;
    SavingEngine flushed(scratch / "clips", true, tenSeconds, audioEncoders);
    SavingEngine unflushed(scratch / "clips", false, tenSeconds, audioEncoders);
    // The same save into memory (tmpfs): what is left is the save's own work, without the disk.
    const fs::path memoryFolder = "/dev/shm/corvane-save-bench-" + std::to_string(getpid());
    SavingEngine inMemory(memoryFolder, false, tenSeconds, audioEncoders);
    for (const double seconds : {30.0, 130.0}) {
        std::vector<double> withFlush, withoutFlush, tmpfs, reference;
        double megabytes = 0;
        for (int run = 0; run < (quick ? 1 : 3); ++run) {
            const Figures a = flushed.save(seconds);
            const Figures b = unflushed.save(seconds);
            const Figures c = inMemory.save(seconds);
            if (a.path.empty() || b.path.empty() || c.path.empty()) break;
            tmpfs.push_back(c.seconds);
            fs::remove(c.path);
            withFlush.push_back(a.seconds);
            withoutFlush.push_back(b.seconds);
            megabytes = double(fs::file_size(a.path)) / 1e6;
            const fs::path ref = scratch / "ref.mp4";
            reference.push_back(runCommand("ffmpeg -hide_banner -y -i '" + b.path + "' -map 0 -c copy '" + ref.string() + "'"));
            fs::remove(ref);
            fs::remove(a.path);
            fs::remove(b.path);
        }
        const double ref = median(reference);
        std::printf("%3.0f s clip (%5.1f MB): ours %.3f s flushed to disk, %.3f s not flushed, %.3f s into tmpfs; "
                    "ffmpeg -c copy %.3f s; ratio %.2f flushed, %.2f not flushed\n",
                    seconds, megabytes, median(withFlush), median(withoutFlush), median(tmpfs), ref,
                    ref > 0 ? median(withFlush) / ref : 0.0, ref > 0 ? median(withoutFlush) / ref : 0.0);
    }
    fs::remove_all(memoryFolder);
}

void benchMemoryAndLane(const std::vector<VideoSampleRef>& tenSeconds) {
    constexpr double kSeconds = 130;
    std::printf("\n== Replay buffer resident memory per buffered second (130 s, 1080p48 12 Mbit/s + 48 kHz stereo) ==\n");
    malloc_trim(0);
    long before = residentBytes();
    {
        // Before: the audio held as 20 ms blocks of 32-bit float PCM, one shared block each.
        std::vector<std::shared_ptr<const AudioBlock>> pcm;
        for (int64_t at = 0; at < int64_t(kSeconds * kRate); at += 960) pcm.push_back(std::make_shared<AudioBlock>(toneBlock(at)));
        const long audioPcm = residentBytes() - before;
        std::printf("audio as PCM (before): %7.1f kB per second\n", double(audioPcm) / kSeconds / 1e3);
    }
    malloc_trim(0);
    before = residentBytes();
    AacAudioEncoderFactory audioEncoders;
    double laneCpu = 0;
    {
        CorvaneRingBuffer audioOnly(kSeconds);
        std::vector<AudioBlock> blocks;
        for (int64_t at = 0; at < int64_t(kSeconds * kRate); at += 960) blocks.push_back(toneBlock(at));
        const long blocksBytes = residentBytes() - before;
        AudioLane lane(audioEncoders, audioOnly);
        const double cpuStart = cpuSeconds();
        for (const AudioBlock& b : blocks) lane.push(b);
        laneCpu = cpuSeconds() - cpuStart;
        blocks.clear();
        blocks.shrink_to_fit();
        malloc_trim(0);
        const long audioAac = residentBytes() - before;
        (void)blocksBytes;
        std::printf("audio as AAC (now):    %7.1f kB per second\n", double(audioAac) / kSeconds / 1e3);
    }
    // Reference: the command line's AAC encoder with the same settings on a tone of the same length.
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    const double childrenBefore = double(children.ru_utime.tv_sec) + double(children.ru_utime.tv_usec) / 1e6 +
                                  double(children.ru_stime.tv_sec) + double(children.ru_stime.tv_usec) / 1e6;
    const bool ran = runCommand("ffmpeg -hide_banner -f lavfi -i sine=frequency=440:sample_rate=48000:duration=130 "
                                "-ac 2 -c:a aac -aac_coder fast -b:a 192k -f null -") > 0;
    getrusage(RUSAGE_CHILDREN, &children);
    const double ffmpegCpu = double(children.ru_utime.tv_sec) + double(children.ru_utime.tv_usec) / 1e6 +
                             double(children.ru_stime.tv_sec) + double(children.ru_stime.tv_usec) / 1e6 - childrenBefore;
    std::printf("audio lane CPU: %.2f %% of one core (%.2f s to compress %.0f s); ffmpeg's AAC encoder on the same "
                "length: %.2f s, ratio %.2f\n", laneCpu / kSeconds * 100, laneCpu, kSeconds, ran ? ffmpegCpu : 0.0,
                ran && ffmpegCpu > 0 ? laneCpu / ffmpegCpu : 0.0);

    malloc_trim(0);
    before = residentBytes();
    {
        CorvaneRingBuffer buffer(kSeconds);
        fillBuffer(buffer, tenSeconds, kSeconds + 2, audioEncoders);
        malloc_trim(0);
        const long resident = residentBytes() - before;
        const RingBufferStatus s = buffer.getStatus();
        std::printf("whole buffer: %.1f s held, %.1f MB of packets, resident +%.1f MB (%.0f kB per second, overhead %.1f %%)\n",
                    s.duration, double(s.memoryBytes) / 1e6, double(resident) / 1e6, double(resident) / s.duration / 1e3,
                    (double(resident) / double(s.memoryBytes) - 1) * 100);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    setLogSinkForTesting([](const std::string&) {});
    const fs::path scratch = fs::temp_directory_path() / ("corvane-save-bench-" + std::to_string(getpid()));
    fs::create_directories(scratch);
    std::printf("encoding ten seconds of 1080p48 ...\n");
    const std::vector<VideoSampleRef> tenSeconds = encodeTenSeconds();
    benchMemoryAndLane(tenSeconds);
    benchSaves(scratch, tenSeconds, quick);
    fs::remove_all(scratch);
    return 0;
}
