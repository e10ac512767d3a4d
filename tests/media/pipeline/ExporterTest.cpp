#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "core/replay/ReplayTestSupport.h"
#include "core/services/SoundPlayer.h"
#include "media/CorvaneEncoder.h"
#include "media/CorvaneExporter.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

class CountingSoundPlayer final : public SoundPlayer {
public:
    void playSavedChime() override { ++plays; }
    std::atomic<int> plays{0};
};

constexpr double kOrigin = 5000.0;  // capture clock seconds at the first frame
constexpr int kFps = 30;

// Records `seconds` of a moving 320x240 picture through the real encoder into the buffer, with
// a continuous sine from half a second before the first frame, except in the given hole.
void record(CorvaneRingBuffer& buffer, const std::shared_ptr<CorvaneRingBuffer>& sinkOwner,
            double seconds, bool audio = true, double holeFrom = -1, double holeTo = -1) {
    EncoderCandidates software;
    software.h264Hardware.clear();
    software.hevcHardware.clear();
    EncoderSettings s;
    s.width = 320;
    s.height = 240;
    s.fps = kFps;
    s.bitrateKbps = 1500;
    CorvaneEncoder encoder(s, sinkOwner, software);
    test::MovingPattern pattern(320, 240);
    const int frames = int(seconds * kFps);
    for (int i = 0; i < frames; ++i)
        encoder.encode(pattern.frame(i, MediaTime::fromSeconds(kOrigin + double(i) / kFps, 1000000)));
    encoder.finish();
    if (!audio) return;
    const int64_t first = int64_t((kOrigin - 0.5) * 48000);
    const int64_t last = int64_t((kOrigin + seconds) * 48000);
    for (int64_t at = first; at < last; at += 960) {
        const double t = double(at) / 48000 - kOrigin;
        if (t >= holeFrom && t < holeTo) continue;
        buffer.appendAudio(test::sineBlock(at, 960));
    }
}

double rms(const std::vector<float>& pcm, double from, double to) {
    const size_t a = size_t(from * 48000) * 2, b = std::min(pcm.size(), size_t(to * 48000) * 2);
    double sum = 0;
    for (size_t i = a; i < b; ++i) sum += double(pcm[i]) * pcm[i];
    return b > a ? std::sqrt(sum / double(b - a)) : 0;
}

// Largest difference between decoded stereo PCM and the recorded sine at the same capture time,
// away from the first and last AAC frames.
double worstSineError(const std::vector<float>& pcm, int64_t startSample) {
    double worst = 0;
    for (size_t i = 2048; i + 2048 < pcm.size() / 2; ++i) {
        const AudioBlock expected = test::sineBlock(startSample + int64_t(i), 1);
        worst = std::max(worst, double(std::fabs(pcm[2 * i] - expected.samples[0])));
        worst = std::max(worst, double(std::fabs(pcm[2 * i + 1] - expected.samples[1])));
    }
    return worst;
}

std::vector<std::string> listFolder(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    return names;
}

class ExporterTest : public ::testing::Test {
protected:
    test::SteppedClock clock;
    std::shared_ptr<CorvaneRingBuffer> buffer = std::make_shared<CorvaneRingBuffer>(130);
    std::shared_ptr<CountingSoundPlayer> sound = std::make_shared<CountingSoundPlayer>();
    test::TempDir dir;
};

TEST_F(ExporterTest, WritesAPlayableClipWithUntouchedVideoAndAlignedAudio) {
    record(*buffer, buffer, 4.0);
    CorvaneExporter exporter(sound, clock);
    const ClipExportResult result = exporter.exportClip(*buffer, 3, (dir / "clips").string(), true, true);
    ASSERT_TRUE(result.ok()) << result.reason;
    const ClipSelection selection = buffer->getSamplesForClip(3, false);
    ASSERT_TRUE(selection);
    const ClipSamples& clip = *selection.clip;
    EXPECT_DOUBLE_EQ(result.actualSeconds, clip.actualDuration);
    EXPECT_EQ(fs::path(result.path).parent_path(), dir / "clips");
    EXPECT_EQ(fs::path(result.path).filename().string().substr(0, 5), "Clip_");
    EXPECT_NE(result.path.find("_4s.mp4"), std::string::npos);  // 3.967 s rounds to 4
    EXPECT_EQ(sound->plays.load(), 1);
    EXPECT_EQ(listFolder(dir / "clips").size(), 1u);  // no temporary file left

    const test::ProbedFile file = test::probeFile(result.path);
    ASSERT_TRUE(file.opened);
    ASSERT_EQ(file.streams.size(), 2u);
    ASSERT_GE(file.videoStream, 0);
    ASSERT_GE(file.audioStream, 0);
    const test::ProbedStream& video = file.streams[size_t(file.videoStream)];
    const test::ProbedStream& audio = file.streams[size_t(file.audioStream)];
    EXPECT_EQ(video.codec, "h264");
    EXPECT_EQ(video.width, 320);
    EXPECT_EQ(video.height, 240);
    EXPECT_NEAR(video.startSeconds, 0, 1e-6);
    EXPECT_NEAR(video.durationSeconds, clip.actualDuration, 1.0 / kFps + 1e-3);
    EXPECT_EQ(audio.codec, "aac");
    EXPECT_EQ(audio.sampleRate, 48000);
    EXPECT_EQ(audio.channels, 2);
    EXPECT_NEAR(audio.startSeconds, 0, 1e-6);
    EXPECT_NEAR(audio.durationSeconds, clip.actualDuration, 1024.0 / 48000);

    // Video packets are the buffer's own, in order; keyframes exactly on the one-second grid.
    std::vector<const test::ProbedPacket*> muxed;
    for (const auto& p : file.packets)
        if (p.stream == file.videoStream) muxed.push_back(&p);
    ASSERT_EQ(muxed.size(), clip.video.size());
    EXPECT_TRUE(muxed.front()->key);
    for (size_t i = 0; i < muxed.size(); ++i) {
        EXPECT_EQ(muxed[i]->key, i % kFps == 0) << "packet " << i;
        EXPECT_NEAR(muxed[i]->ptsSeconds, double(i) / kFps, 1e-4);
        EXPECT_EQ(test::nalUnits(muxed[i]->data, true), test::nalUnits(clip.video[i]->data, false))
            << "packet " << i << " was changed";
    }

    // The audio is the recorded sine, sample-aligned with the video, with no glitch anywhere
    // (the track is encoded in two halves).
    const std::vector<float> pcm = test::decodeAudio(result.path);
    ASSERT_NEAR(double(pcm.size()) / 2 / 48000, clip.actualDuration, 1024.0 / 48000);
    EXPECT_LT(worstSineError(pcm, clip.startPTS.convertedTo(48000).value()), 0.02);
}

TEST_F(ExporterTest, HolesBecomeSilenceAndAudioOffGivesAVideoOnlyFile) {
    record(*buffer, buffer, 4.0, true, 1.5, 2.5);
    CorvaneExporter exporter(sound, clock);
    const ClipExportResult withAudio = exporter.exportClip(*buffer, 10, dir.path().string(), false, true);
    ASSERT_TRUE(withAudio.ok());
    EXPECT_EQ(sound->plays.load(), 0);
    const std::vector<float> pcm = test::decodeAudio(withAudio.path);
    EXPECT_NEAR(rms(pcm, 0.2, 1.4), 0.25 / std::sqrt(2.0), 0.02);
    EXPECT_LT(rms(pcm, 1.6, 2.4), 0.001);
    EXPECT_NEAR(rms(pcm, 2.6, 3.8), 0.25 / std::sqrt(2.0), 0.02);

    const ClipExportResult videoOnly = exporter.exportClip(*buffer, 10, dir.path().string(), false, false);
    ASSERT_TRUE(videoOnly.ok());
    const test::ProbedFile file = test::probeFile(videoOnly.path);
    ASSERT_EQ(file.streams.size(), 1u);
    EXPECT_EQ(file.streams[0].codec, "h264");
}

TEST_F(ExporterTest, OverlappingAudioBlocksStayOnTheirTimeStamps) {
    // Blocks of 20 ms every 18.75 ms: written one after another they would drift 1.25 ms per
    // block behind the picture.
    record(*buffer, buffer, 3.0, false);
    for (int64_t at = int64_t(kOrigin * 48000); at < int64_t((kOrigin + 3) * 48000); at += 900)
        buffer->appendAudio(test::sineBlock(at, 960));
    CorvaneExporter exporter(sound, clock);
    const ClipExportResult result = exporter.exportClip(*buffer, 30, dir.path().string(), false, true);
    ASSERT_TRUE(result.ok());
    const std::vector<float> pcm = test::decodeAudio(result.path);
    EXPECT_LT(worstSineError(pcm, int64_t(kOrigin * 48000)), 0.02);
}

TEST_F(ExporterTest, SavesInTheSameSecondKeepBothFiles) {
    record(*buffer, buffer, 2.0, false);
    CorvaneExporter exporter(sound, clock);
    const ClipExportResult first = exporter.exportClip(*buffer, 30, dir.path().string(), false, false);
    const ClipExportResult second = exporter.exportClip(*buffer, 30, dir.path().string(), false, false);
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(second.ok());
    EXPECT_NE(first.path, second.path);
    EXPECT_EQ(second.path.substr(second.path.size() - 9), "_2s_2.mp4");
    EXPECT_TRUE(test::probeFile(first.path).opened);
    EXPECT_EQ(fs::file_size(first.path), fs::file_size(second.path));
}

TEST_F(ExporterTest, NothingBufferedIsReportedAsNotEnoughVideoAndWritesNothing) {
    test::LogCapture log;
    CorvaneExporter exporter(sound, clock);
    const ClipExportResult result = exporter.exportClip(*buffer, 30, (dir / "new").string(), true, true);
    EXPECT_EQ(result.failure, ClipExportResult::Failure::NotEnoughVideo);
    EXPECT_FALSE(result.reason.empty());
    EXPECT_TRUE(log.contains("[Corvane] Unable to export: no video samples or keyframe available"));
    EXPECT_EQ(sound->plays.load(), 0);
}

// A stalled disk: the clock jumps past the 3 s limit once part of the clip is written. The file
// is finished with what it has and reports that length, not the selected one.
class StallingClock final : public Clock {
public:
    explicit StallingClock(int stallAtCall) : stallAt_(stallAtCall) {}
    SteadyTime now() const override {
        if (++calls_ == stallAt_) offset_ += std::chrono::seconds(4);
        return SteadyTime(std::chrono::hours(1) + offset_);
    }
    WallTime wallNow() const override { return WallTime(std::chrono::hours(24 * 365 * 50)); }

private:
    const int stallAt_;
    mutable int calls_ = 0;
    mutable Duration offset_{0};
};

TEST_F(ExporterTest, AStalledWriteEndsEarlyAndReportsTheLengthWritten) {
    record(*buffer, buffer, 3.0, false);
    StallingClock stalling(2 + 2 * 45);  // after about 45 video frames
    test::LogCapture log;
    CorvaneExporter exporter(sound, stalling);
    const ClipExportResult result = exporter.exportClip(*buffer, 30, dir.path().string(), false, false);
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_TRUE(log.contains("[Corvane] Timeout: Neither video nor audio input became ready for 3s"));
    EXPECT_TRUE(log.contains("[Corvane] Warning: export ended early (video: 45/90, audio: 0/0)"));
    EXPECT_NEAR(result.actualSeconds, 44.0 / kFps, 1e-6);
    EXPECT_NE(result.path.find("_1s.mp4"), std::string::npos);
    const test::ProbedFile file = test::probeFile(result.path);
    EXPECT_EQ(file.packets.size(), 45u);
}

// A read-only or too small file system, mounted for the test when the process may; otherwise the
// same failures are made with a file-size limit (full disk) or a path through a file.
class ScratchMount {
public:
    ScratchMount(const fs::path& at, const std::string& options) : path_(at) {
        fs::create_directories(at);
        mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~ScratchMount() {
        if (mounted_) ::umount(path_.c_str());
    }
    bool mounted() const { return mounted_; }

private:
    fs::path path_;
    bool mounted_ = false;
};

TEST_F(ExporterTest, UnwritableFolderFailsWithTheReasonLeavesNothingAndKeepsTheBuffer) {
    record(*buffer, buffer, 2.0);
    const RingBufferStatus before = buffer->getStatus();
    CorvaneExporter exporter(sound, clock);
    fs::path target = dir / "ro";
    ScratchMount readOnly(target, "size=1m,mode=0755");
    if (readOnly.mounted()) {
        ASSERT_EQ(::mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    } else {
        std::ofstream(dir / "file") << "x";
        target = dir / "file" / "clips";
    }
    const ClipExportResult result = exporter.exportClip(*buffer, 30, target.string(), true, true);
    EXPECT_EQ(result.failure, ClipExportResult::Failure::CouldNotWrite);
    EXPECT_TRUE(result.reason == "Read-only file system" || result.reason == "Not a directory")
        << result.reason;
    EXPECT_EQ(sound->plays.load(), 0);
    if (readOnly.mounted()) {
        EXPECT_TRUE(listFolder(target).empty());
    }
    EXPECT_EQ(buffer->getStatus().videoCount, before.videoCount);
}

TEST_F(ExporterTest, FullDiskFailsWithTheReasonAndLeavesNoHalfFile) {
    record(*buffer, buffer, 4.0);
    CorvaneExporter exporter(sound, clock);
    const fs::path target = dir / "small";
    ScratchMount small(target, "size=64k");
    std::string expected = "No space left on device";
    rlimit old{};
    if (!small.mounted()) {
        // Same failure path through the kernel's file-size limit.
        expected = "File too large";
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    test::LogCapture log;
    const ClipExportResult result = exporter.exportClip(*buffer, 30, target.string(), true, true);
    if (!small.mounted()) setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(result.failure, ClipExportResult::Failure::CouldNotWrite);
    EXPECT_EQ(result.reason, expected);
    EXPECT_TRUE(listFolder(target).empty());
    EXPECT_EQ(sound->plays.load(), 0);
    EXPECT_FALSE(log.contains("Clip saved successfully"));
}

}  // namespace
}  // namespace corvane
