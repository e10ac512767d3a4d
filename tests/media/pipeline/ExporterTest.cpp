#include <sys/mount.h>
#include <sys/resource.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "core/replay/ReplayTestSupport.h"
#include "core/services/SoundPlayer.h"
#include "media/CorvaneExporter.h"
#include "platform/files/LocalClipFiles.h"
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
        for (size_t ch = 0; ch < 2; ++ch)
            worst = std::max(worst, double(std::fabs(pcm[2 * i + ch] - expected.samples[ch])));
    }
    return worst;
}

// NAL unit payloads of an Annex-B packet (as buffered) or a length-prefixed one (as muxed).
std::vector<std::vector<uint8_t>> nalUnits(const std::vector<uint8_t>& d, bool lengthPrefixed) {
    std::vector<std::vector<uint8_t>> units;
    for (size_t i = 0; lengthPrefixed && i + 4 <= d.size();) {
        const size_t n = (size_t(d[i]) << 24) | (size_t(d[i + 1]) << 16) | (size_t(d[i + 2]) << 8) | d[i + 3];
        if ((i += 4) + n > d.size()) break;
        units.emplace_back(d.begin() + long(i), d.begin() + long(i + n));
        i += n;
    }
    for (size_t i = 0, start = SIZE_MAX; !lengthPrefixed && i <= d.size(); ++i) {
        const bool code = i + 3 <= d.size() && d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1;
        if (!code && i < d.size()) continue;
        if (start != SIZE_MAX) {
            size_t end = i;
            while (code && end > start && d[end - 1] == 0) --end;  // a 4-byte start code's zero
            units.emplace_back(d.begin() + long(start), d.begin() + long(end));
        }
        start = i + 3;
        i += 2;
    }
    return units;
}

size_t entries(const fs::path& folder) {
    return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

class ExporterTest : public ::testing::Test {
protected:
    // Records `seconds` of a moving 320x240 picture through the real encoder into the buffer, with
    // a continuous sine from half a second before the first frame, except in the given hole.
    void record(double seconds, bool audio = true, double holeFrom = -1, double holeTo = -1) {
        CorvaneEncoder encoder(test::encoderSettings(320, 240), buffer, test::softwareOnly());
        test::MovingPattern pattern(320, 240);
        for (int i = 0; i < int(seconds * kFps); ++i)
            encoder.encode(pattern.frame(i, MediaTime::fromSeconds(kOrigin + double(i) / kFps, 1000000)));
        encoder.finish();
        for (int64_t at = int64_t((kOrigin - 0.5) * 48000); audio && at < int64_t((kOrigin + seconds) * 48000); at += 960) {
            const double t = double(at) / 48000 - kOrigin;
            if (t < holeFrom || t >= holeTo) buffer->appendAudio(test::sineBlock(at, 960));
        }
    }
    ClipExportResult save(const fs::path& folder, bool audio, bool chime = false) {
        return exporter.exportClip(*buffer, 30, folder.string(), chime, audio);
    }

    test::SteppedClock clock;
    std::shared_ptr<CorvaneRingBuffer> buffer = std::make_shared<CorvaneRingBuffer>(130);
    std::shared_ptr<CountingSoundPlayer> sound = std::make_shared<CountingSoundPlayer>();
    LocalClipFiles files;
    CorvaneExporter exporter{files, sound, clock};
    test::TempDir dir;
};

TEST_F(ExporterTest, WritesAPlayableClipWithUntouchedVideoAndAlignedAudio) {
    record(4.0);
    const ClipExportResult result = exporter.exportClip(*buffer, 3, (dir / "clips").string(), true, true);
    ASSERT_TRUE(result.ok()) << result.reason;
    const ClipSelection selection = buffer->getSamplesForClip(3, false);
    ASSERT_TRUE(selection);
    const ClipSamples& clip = *selection.clip;
    EXPECT_DOUBLE_EQ(result.actualSeconds, clip.actualDuration);
    EXPECT_EQ(fs::path(result.path).parent_path(), dir / "clips");
    EXPECT_NE(result.path.find("_4s.mp4"), std::string::npos);  // 3.967 s rounds to 4
    EXPECT_EQ(sound->plays.load(), 1);
    EXPECT_EQ(entries(dir / "clips"), 1u);  // no temporary file left

    const test::DecodedClip file = test::decodeClip(result.path);
    ASSERT_EQ(file.streams.size(), 2u);
    ASSERT_GE(file.videoStream, 0);
    ASSERT_GE(file.audioStream, 0);
    EXPECT_EQ(file.decodeErrors, 0);
    const test::ClipStream& video = file.streams[size_t(file.videoStream)];
    const test::ClipStream& audio = file.streams[size_t(file.audioStream)];
    EXPECT_EQ(video.codec + " " + std::to_string(video.width) + "x" + std::to_string(video.height), "h264 320x240");
    EXPECT_EQ(audio.codec + " " + std::to_string(audio.sampleRate) + " " + std::to_string(audio.channels), "aac 48000 2");
    EXPECT_NEAR(video.startSeconds, 0, 1e-6);
    EXPECT_NEAR(audio.startSeconds, 0, 1e-6);
    EXPECT_NEAR(video.durationSeconds, clip.actualDuration, 1.0 / kFps + 1e-3);
    EXPECT_NEAR(audio.durationSeconds, clip.actualDuration, 1024.0 / 48000);

    // Video packets are the buffer's own, in order; keyframes exactly on the one-second grid.
    std::vector<const test::ClipPacket*> muxed;
    for (const auto& p : file.packets)
        if (p.stream == file.videoStream) muxed.push_back(&p);
    ASSERT_EQ(muxed.size(), clip.video.size());
    EXPECT_EQ(file.frameIndices.size(), muxed.size());
    for (size_t i = 0; i < muxed.size(); ++i) {
        EXPECT_EQ(muxed[i]->key, i % kFps == 0) << "packet " << i;
        EXPECT_NEAR(muxed[i]->ptsSeconds, double(i) / kFps, 1e-4);
        EXPECT_EQ(nalUnits(muxed[i]->data, true), nalUnits(clip.video[i]->data, false)) << "packet " << i;
    }
    // The audio is the recorded sine, sample-aligned with the video, with no glitch anywhere
    // (the track is encoded in two halves).
    ASSERT_NEAR(double(file.pcm.size()) / 2 / 48000, clip.actualDuration, 1024.0 / 48000);
    EXPECT_LT(worstSineError(file.pcm, clip.startPTS.convertedTo(48000).value()), 0.02);
}

TEST_F(ExporterTest, AudioGapsBecomeSilenceOverlapsKeepTheirStampsAndAudioOffGivesVideoOnly) {
    record(4.0, true, 1.5, 2.5);
    const ClipExportResult withAudio = save(dir.path(), true);
    ASSERT_TRUE(withAudio.ok());
    EXPECT_EQ(sound->plays.load(), 0);
    const std::vector<float> pcm = test::decodeClip(withAudio.path).pcm;
    EXPECT_NEAR(rms(pcm, 0.2, 1.4), 0.25 / std::sqrt(2.0), 0.02);
    EXPECT_LT(rms(pcm, 1.6, 2.4), 0.001);
    EXPECT_NEAR(rms(pcm, 2.6, 3.8), 0.25 / std::sqrt(2.0), 0.02);

    const ClipExportResult videoOnly = save(dir.path(), false);
    ASSERT_TRUE(videoOnly.ok());
    const test::DecodedClip file = test::decodeClip(videoOnly.path);
    ASSERT_EQ(file.streams.size(), 1u);
    EXPECT_EQ(file.streams[0].codec, "h264");

    // Blocks of 20 ms every 18.75 ms: written one after another they would drift 1.25 ms per
    // block behind the picture.
    buffer->clear();
    record(3.0, false);
    for (int64_t at = int64_t(kOrigin * 48000); at < int64_t((kOrigin + 3) * 48000); at += 900)
        buffer->appendAudio(test::sineBlock(at, 960));
    const ClipExportResult overlapping = save(dir.path(), true);
    ASSERT_TRUE(overlapping.ok());
    EXPECT_LT(worstSineError(test::decodeClip(overlapping.path).pcm, int64_t(kOrigin * 48000)), 0.02);
}

TEST_F(ExporterTest, SavesInTheSameSecondKeepBothFilesAndAnEmptyBufferWritesNothing) {
    record(2.0, false);
    const ClipExportResult first = save(dir.path(), false), second = save(dir.path(), false);
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_EQ(second.path.substr(second.path.size() - 9), "_2s_2.mp4");
    EXPECT_EQ(fs::file_size(first.path), fs::file_size(second.path));

    test::LogCapture log;
    buffer->clear();
    const ClipExportResult none = save(dir / "new", true, true);
    EXPECT_EQ(none.failure, ClipExportResult::Failure::NotEnoughVideo);
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
    record(3.0, false);
    StallingClock stalling(2 + 2 * 45);  // after about 45 video frames
    test::LogCapture log;
    const ClipExportResult result = CorvaneExporter(files, sound, stalling).exportClip(*buffer, 30, dir.path().string(), false, false);
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_TRUE(log.contains("[Corvane] Timeout: Neither video nor audio input became ready for 3s"));
    EXPECT_TRUE(log.contains("[Corvane] Warning: export ended early (video: 45/90, audio: 0/0)"));
    EXPECT_NEAR(result.actualSeconds, 44.0 / kFps, 1e-6);
    EXPECT_NE(result.path.find("_1s.mp4"), std::string::npos);
    EXPECT_EQ(test::decodeClip(result.path).packets.size(), 45u);
}

// Write failures: a read-only and a too small file system, mounted for the test when the process
// may; otherwise the same failures are made through a path through a file and a file-size limit.
TEST_F(ExporterTest, WriteFailuresGiveTheReasonLeaveNothingAndKeepTheBuffer) {
    record(4.0);
    const size_t buffered = buffer->getStatus().videoCount;
    for (const bool readOnly : {true, false}) {
        const fs::path target = dir / (readOnly ? "ro" : "small");
        fs::create_directories(target);
        const bool mounted = ::mount("tmpfs", target.c_str(), "tmpfs", 0, readOnly ? "size=1m" : "size=64k") == 0;
        if (mounted && readOnly) {
            ASSERT_EQ(::mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        }
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        if (!mounted && !readOnly) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{64 * 1024, old.rlim_max};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (!mounted && readOnly) std::ofstream(dir / "file") << "x";
        const fs::path folder = !mounted && readOnly ? dir / "file" / "clips" : target;
        test::LogCapture log;
        const ClipExportResult result = save(folder, true, true);
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_EQ(result.failure, ClipExportResult::Failure::CouldNotWrite);
        EXPECT_EQ(result.reason, readOnly ? (mounted ? "Read-only file system" : "Not a directory")
                                          : (mounted ? "No space left on device" : "File too large"));
        EXPECT_EQ(entries(target), 0u) << "a half-written file was left";
        EXPECT_FALSE(log.contains("Clip saved successfully"));
        if (mounted) ::umount(target.c_str());
    }
    EXPECT_EQ(sound->plays.load(), 0);
    EXPECT_EQ(buffer->getStatus().videoCount, buffered);
}

}  // namespace
}  // namespace corvane
