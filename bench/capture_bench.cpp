// Capture benchmark: CPU per captured second of capture + conversion + encode against the FFmpeg
// command line doing the same (x11grab + libx264, same settings, output discarded); frames
// delivered against frames expected; drift of the audio stamps against the capture clock.
//
// Run inside a desktop session, e.g.:
//   scripts/with-test-session.sh build/bench/capture_bench [cpuSeconds=10] [rateSeconds=60] [driftSeconds=60]
// (driftSeconds=600 for the ten-minute figure). Prints ratios; asserts nothing.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/capture/CaptureClock.h"
#include "core/capture/CorvaneCapture.h"
#include "core/log/Log.h"
#include "core/sched/ManualScheduler.h"
#include "media/CorvaneEncoder.h"
#include "platform/audio/PulseSystemAudio.h"
#include "platform/x11/X11ScreenCapture.h"
// Xlib last: its macros (None, Bool) clash with ordinary names.
#include <X11/Xlib.h>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

double cpuSeconds(const rusage& r) {
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}
double selfCpu() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return cpuSeconds(r);
}

// Moving content in a child process (its CPU is not counted): bars sliding across the screen.
pid_t startAnimator() {
    pid_t pid = fork();
    if (pid != 0) return pid;
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) _exit(1);
    Window root = DefaultRootWindow(dpy);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = 0x202020;
    Window w = XCreateWindow(dpy, root, 0, 0, 1920, 1080, 0, CopyFromParent, InputOutput,
                             CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
    XMapRaised(dpy, w);
    GC gc = XCreateGC(dpy, w, 0, nullptr);
    for (unsigned frame = 0;; ++frame) {
        XSetForeground(dpy, gc, 0x202020);
        XFillRectangle(dpy, w, gc, 0, 0, 1920, 1080);
        for (int i = 0; i < 12; ++i) {
            XSetForeground(dpy, gc, 0x3050a0u + unsigned(i) * 0x101010u + frame * 0x010203u);
            int x = int((frame * unsigned(7 + i * 3) + unsigned(i) * 150) % 1920);
            XFillRectangle(dpy, w, gc, x, i * 90, 160, 80);
        }
        XSync(dpy, False);
        usleep(33'000);
    }
}

struct OurRun {
    double cpuPerSecond = 0;
    int64_t frames = 0;    // compressed frames that reached the replay buffer
    int64_t captured = 0;  // frames the capture handed to the encoder
};

// Counts the frames handed to the real encoder, to tell capture drops from encoder drops.
class CountingFactory final : public VideoEncoderFactory {
public:
    std::atomic<int64_t> frames{0};
    std::unique_ptr<VideoEncoder> create(const EncoderSettings& settings,
                                         std::weak_ptr<VideoPacketSink> sink) override {
        struct Counting final : VideoEncoder {
            std::unique_ptr<VideoEncoder> inner;
            std::atomic<int64_t>* frames;
            bool isReady() const override { return inner->isReady(); }
            void encode(const RawVideoFrame& f) override {
                ++*frames;
                inner->encode(f);
            }
            void finish() override { inner->finish(); }
        };
        auto c = std::make_unique<Counting>();
        c->inner = real_.create(settings, std::move(sink));
        c->frames = &frames;
        return c;
    }

private:
    FfmpegVideoEncoderFactory real_;
};

// Our pipeline: X11 capture of the main display, scaled once, encoded, into the replay buffer.
OurRun runOurs(int32_t width, int32_t height, int32_t fps, double seconds) {
    ManualScheduler scheduler;
    X11ScreenCaptureBackend screen;
    CountingFactory encoders;
    auto ring = std::make_shared<CorvaneRingBuffer>(std::max(130.0, seconds + 10));
    CaptureSettings settings;
    settings.fps = fps;
    settings.targetWidth = width;
    settings.targetHeight = height;
    settings.recordAudio = false;
    CorvaneCapture capture(settings, ring, {screen, nullptr, encoders, scheduler});
    capture.start();
    for (int i = 0; i < 100 && !capture.isRunning(); ++i) std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(1s);  // warm-up: encoder start, first keyframe
    uint64_t framesBefore = ring->getStatus().videoCount;
    int64_t capturedBefore = encoders.frames.load();
    double cpuBefore = selfCpu();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    double cpuAfter = selfCpu();
    uint64_t framesAfter = ring->getStatus().videoCount;
    int64_t capturedAfter = encoders.frames.load();
    capture.stopAndWait(2s);
    return {(cpuAfter - cpuBefore) / seconds, int64_t(framesAfter - framesBefore),
            capturedAfter - capturedBefore};
}

struct ReferenceRun {
    double cpuPerSecond = -1;
    int64_t frames = 0;
};

// The reference: the FFmpeg command line with the same capture, scaling and encoder settings.
ReferenceRun runReference(int32_t width, int32_t height, int32_t fps, double seconds) {
    std::string progress = "/tmp/corvane-bench-progress-" + std::to_string(getpid());
    const char* display = getenv("DISPLAY");
    int32_t kbps = calculateDynamicBitrate(width, height, fps);
    std::string preset = int64_t(width) * height * fps <= int64_t(1280) * 720 * 30 ? "veryfast" : "ultrafast";
    std::vector<std::string> args = {
        "ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "x11grab", "-framerate",
        std::to_string(fps), "-video_size", "1920x1080", "-draw_mouse", "1", "-i",
        display ? display : ":0", "-t", std::to_string(seconds + 1.0), "-vf",
        "scale=" + std::to_string(width) + ":" + std::to_string(height) + ":flags=fast_bilinear",
        "-pix_fmt", "yuv420p", "-c:v", "libx264", "-preset", preset, "-tune", "zerolatency",
        "-profile:v", "high", "-x264-params", "scenecut=0", "-forced-idr", "1", "-g",
        std::to_string(fps), "-bf", "0", "-b:v", std::to_string(kbps) + "k", "-maxrate",
        std::to_string(kbps * 3 / 2) + "k", "-bufsize", std::to_string(kbps * 3 / 2) + "k",
        "-progress", progress, "-f", "null", "-"};
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp("ffmpeg", argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    ReferenceRun run;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return run;
    run.cpuPerSecond = cpuSeconds(usage) / (seconds + 1.0);
    if (FILE* f = std::fopen(progress.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            if (std::strncmp(line, "frame=", 6) == 0) run.frames = std::atoll(line + 6);
        }
        std::fclose(f);
        std::remove(progress.c_str());
    }
    return run;
}

// Audio stamps against the capture clock: the lowest offset (queue delay removed) early and late.
void runDrift(double seconds) {
    SerialQueue queue("bench-audio");
    PulseSystemAudioBackend backend;
    std::mutex mutex;
    std::vector<std::pair<double, double>> offsets;  // (elapsed s, arrival - pts in ms)
    MediaTime start = captureClockNow();
    AudioStreamCallbacks callbacks;
    callbacks.onAudio = [&](const AudioBlock& block) {
        MediaTime now = captureClockNow();
        MediaTime end = block.pts + MediaTime(block.frameCount(), block.sampleRate);
        std::lock_guard lock(mutex);
        offsets.emplace_back((now - start).seconds(), (now - end).seconds() * 1000.0);
    };
    auto stream = backend.openSystemAudio(queue, callbacks);
    if (!stream.ok()) {
        std::printf("A/V drift: no audio server (%s)\n", stream.error().message.c_str());
        return;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds + 3));
    stream.value()->stop();
    queue.waitIdle();
    std::lock_guard lock(mutex);
    auto minIn = [&](double from, double to) {
        double best = 1e9;
        for (auto& [t, o] : offsets)
            if (t >= from && t < to) best = std::min(best, o);
        return best;
    };
    double early = minIn(3, 13);
    double late = minIn(seconds - 7, seconds + 3);
    std::printf("A/V drift after %.0f s: %+.2f ms (audio stamps vs the monotonic capture clock; "
                "one video frame at 30 fps = 33.3 ms; %zu blocks)\n",
                seconds, late - early, offsets.size());
}

}  // namespace

int main(int argc, char** argv) {
    double cpuSecondsArg = argc > 1 ? std::atof(argv[1]) : 10;
    double rateSeconds = argc > 2 ? std::atof(argv[2]) : 60;
    double driftSeconds = argc > 3 ? std::atof(argv[3]) : 60;
    setLogSinkForTesting([](const std::string&) {});  // keep the figures readable
    if (!X11ScreenCaptureBackend().isAvailable()) {
        std::printf("No X display: run inside scripts/with-test-session.sh\n");
        return 1;
    }
    pid_t animator = startAnimator();
    std::this_thread::sleep_for(500ms);

    std::printf("CPU seconds per captured second (capture + conversion + encode), %.0f s each:\n",
                cpuSecondsArg);
    for (auto [w, h] : {std::pair{1280, 720}, std::pair{1920, 1080}}) {
        OurRun ours = runOurs(w, h, 30, cpuSecondsArg);
        ReferenceRun ref = runReference(w, h, 30, cpuSecondsArg);
        std::printf("  %dx%d@30: ours %.3f, ffmpeg CLI %.3f, ratio %.3f; frames: ours captured "
                    "%lld, encoded %lld of %.0f; ffmpeg %lld of %.0f\n",
                    w, h, ours.cpuPerSecond, ref.cpuPerSecond,
                    ref.cpuPerSecond > 0 ? ours.cpuPerSecond / ref.cpuPerSecond : 0.0,
                    static_cast<long long>(ours.captured), static_cast<long long>(ours.frames),
                    cpuSecondsArg * 30, static_cast<long long>(ref.frames), (cpuSecondsArg + 1) * 30);
    }
    std::printf("Frames delivered vs expected over %.0f s (1920x1080 native):\n", rateSeconds);
    for (int fps : {30, 60}) {
        OurRun run = runOurs(0, 0, fps, rateSeconds);
        double expected = rateSeconds * fps;
        std::printf("  @%d: captured %lld, encoded %lld of %.0f (%.2f%%), CPU %.3f s/s\n", fps,
                    static_cast<long long>(run.captured), static_cast<long long>(run.frames), expected,
                    100.0 * double(run.frames) / expected, run.cpuPerSecond);
    }
    kill(animator, SIGKILL);
    waitpid(animator, nullptr, 0);

    runDrift(driftSeconds);
    setLogSinkForTesting(nullptr);
    return 0;
}
