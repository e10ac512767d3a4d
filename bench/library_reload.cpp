// Clip library reload with 1000 clips: the longest main-thread stall of a reload, with an empty
// cache (first listing) and a warm one (every later listing), against the reference design that
// opens every clip on the main thread to read its duration. Prints figures; asserts nothing.
//
//   library_reload [clips=1000]     (needs the ffmpeg command to make the sample clip)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/library/ClipMediaCache.h"
#include "core/library/ClipsViewModel.h"
#include "core/sched/ManualScheduler.h"
#include "core/sched/SerialQueue.h"
#include "media/probe/FfmpegClipProber.h"
#include "media/trim/FfmpegClipTrimmer.h"
#include "platform/files/LocalClipFiles.h"

using namespace corvane;
namespace fs = std::filesystem;

namespace {

double msSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    char pattern[] = "/tmp/corvane-library-bench-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    const fs::path sample = dir / "sample.mp4";
    const std::string make = "ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=640x360:rate=30 -f lavfi "
                             "-i sine=frequency=440:sample_rate=48000 -t 3 -c:v libx264 -preset ultrafast -g 30 "
                             "-c:a aac -shortest '" + sample.string() + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "could not make the sample clip with ffmpeg\n");
        return 1;
    }
    const fs::path clips = dir / "clips";
    fs::create_directory(clips);
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "Clip_%04d.mp4", i);
        fs::create_hard_link(sample, clips / name);  // same bytes, distinct paths: each is probed
    }

    ManualScheduler main;
    SerialQueue worker("library-probe");
    SerialQueue trimWorker("library-trim");
    LocalClipFiles files;
    FfmpegClipProber prober;
    FfmpegClipTrimmer trimmer;
    ClipMediaCache cache(prober, worker, main);
    ClipsViewModel model(ClipsViewModelDeps{main, files, cache, trimmer, trimWorker});
    model.setOutputDir(clips.string());

    // Reference: the listing reads every clip's duration on the main thread.
    auto t0 = std::chrono::steady_clock::now();
    {
        auto entries = files.list(clips.string());
        double sum = 0;
        for (const auto& e : *entries) sum += FfmpegClipProber::probeDuration((clips / e.name).string());
        if (sum <= 0) std::fprintf(stderr, "reference read no durations\n");
    }
    const double referenceMs = msSince(t0);

    t0 = std::chrono::steady_clock::now();
    model.reloadClips();
    const double coldMs = msSince(t0);

    // Fill the cache in the background; each result is a short main-thread task (one row update).
    double longestResultMs = 0;  // the slowest single result task, as far as batches tell
    std::vector<double> perResult;
    const auto fillStart = std::chrono::steady_clock::now();
    while (cache.size() < static_cast<size_t>(count)) {
        const auto t = std::chrono::steady_clock::now();
        const int ran = main.runDue();
        if (ran > 0) {
            longestResultMs = std::max(longestResultMs, msSince(t) / ran);
            perResult.push_back(msSince(t) / ran);
        }
        if (msSince(fillStart) > 600000) break;
    }
    const double fillMs = msSince(fillStart);

    std::vector<double> warm;
    for (int i = 0; i < 10; ++i) {
        t0 = std::chrono::steady_clock::now();
        model.reloadClips();
        warm.push_back(msSince(t0));
        main.runDue();
    }
    std::sort(warm.begin(), warm.end());

    std::printf("clips: %d\n", count);
    std::printf("reference reload (durations read on the main thread): %.1f ms\n", referenceMs);
    std::printf("cold reload, main-thread stall: %.1f ms (%.3fx reference)\n", coldMs, coldMs / referenceMs);
    std::sort(perResult.begin(), perResult.end());
    std::printf("background fill: %.1f ms for %zu clips; main-thread cost per result task median %.3f ms, "
                "worst %.3f ms\n", fillMs, cache.size(), perResult.empty() ? 0.0 : perResult[perResult.size() / 2],
                longestResultMs);
    std::printf("warm reload, main-thread stall: median %.1f ms, worst %.1f ms (%.3fx reference; goal < 50 ms)\n",
                warm[warm.size() / 2], warm.back(), warm.back() / referenceMs);
    worker.stop(SerialQueue::StopMode::Discard);
    trimWorker.stop(SerialQueue::StopMode::Discard);
    fs::remove_all(dir);
    return 0;
}
