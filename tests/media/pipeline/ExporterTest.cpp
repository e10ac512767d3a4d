// Saving clips from a buffer filled by the real encoders (video, and audio compressed as it
// arrives), read back with FFmpeg: sound and picture start together, the file holds the buffer's
// own packets, holes and audio restarts decode cleanly, and failed or stuck writes leave nothing.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "core/capture/AudioLane.h"
#include "core/replay/ReplayTestSupport.h"
#include "media/CorvaneExporter.h"
#include "media/export/Mp4ClipOutput.h"
#include "platform/files/LocalClipFiles.h"
#include "media/audio/AacAudioEncoder.h"
#include "support/TempDir.h"
#include "support/TextFiles.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

constexpr double kOrigin = 5000.0;  // capture clock seconds at the first frame
constexpr int kFps = 30;
constexpr int kRate = 48000;

double rms(const std::vector<float>& pcm, double from, double to) {
    const size_t a = size_t(from * kRate) * 2, b = std::min(pcm.size(), size_t(to * kRate) * 2);
    double sum = 0;
    for (size_t i = a; i < b; ++i) sum += double(pcm[i]) * pcm[i];
    return b > a ? std::sqrt(sum / double(b - a)) : 0;
}

// The tones, by capture-clock second relative to kOrigin.
float beeps(double t) {  // 40 ms of 1 kHz at every whole second + 0.3 s
    const double intoSecond = t - std::floor(t);
    return intoSecond >= 0.3 && intoSecond < 0.34 ? float(0.5 * std::sin(2 * M_PI * 1000 * (intoSecond - 0.3))) : 0.0f;
}
float sine(double t) { return float(0.25 * std::sin(2 * M_PI * 440 * t)); }

// Annex B again from H.264 in its file form (avcC record or length-prefixed packet).
std::vector<uint8_t> annexB(const PacketBytes& d, bool record) {
    std::vector<uint8_t> out;
    auto unit = [&](size_t at, size_t n) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), d.begin() + long(at), d.begin() + long(std::min(at + n, d.size())));
    };
    if (!record) {
        for (size_t i = 0; i + 4 <= d.size(); i += 4 + ((size_t(d[i]) << 24) | (size_t(d[i + 1]) << 16) | (size_t(d[i + 2]) << 8) | d[i + 3]))
            unit(i + 4, (size_t(d[i]) << 24) | (size_t(d[i + 1]) << 16) | (size_t(d[i + 2]) << 8) | d[i + 3]);
        return out;
    }
    size_t i = 5;  // version, profile, flags, level, length size
    for (int sets = 0; sets < 2 && i < d.size(); ++sets) {
        const int count = sets == 0 ? d[i++] & 0x1F : d[i++];
        for (int k = 0; k < count && i + 2 <= d.size(); ++k) {
            const size_t n = (size_t(d[i]) << 8) | d[i + 1];
            unit(i + 2, n);
            i += 2 + n;
        }
    }
    return out;
}

struct AudioScript {
    std::function<float(double)> sound = sine;
    double holeFrom = -1, holeTo = -1;  // no blocks arrive in [holeFrom, holeTo)
    double restartAt = -1;              // the stream stops here...
    double restartGap = 0;              // ...and comes back this much later, as a new encoder run
};

class ExporterTest : public ::testing::Test {
protected:
    // Records `seconds` of a moving picture from `from` s on through the real video encoder and,
    // when given, sound from half a second before the first frame through the real AAC audio lane.
    void record(double seconds, std::optional<AudioScript> audio = AudioScript{}, int width = 320,
                int height = 240, double from = 0) {
        CorvaneEncoder encoder(test::encoderSettings(width, height), buffer, test::softwareOnly());
        test::MovingPattern pattern(width, height);
        for (int i = 0; i < int(seconds * kFps); ++i)
            encoder.encode(pattern.frame(i, MediaTime::fromSeconds(kOrigin + from + double(i) / kFps, 1000000)));
        encoder.finish();
        if (!audio) return;
        AudioLane lane(audioEncoders, *buffer);
        const int64_t end = int64_t((kOrigin + from + seconds) * kRate);
        bool restarted = false;
        for (int64_t at = int64_t((kOrigin + from - 0.5) * kRate); at < end; at += 960) {
            const double t = double(at) / kRate - kOrigin;
            if (audio->restartAt >= 0 && !restarted && t >= audio->restartAt) {
                lane.endRun();
                restarted = true;
                at = int64_t((kOrigin + audio->restartAt + audio->restartGap) * kRate);
            }
            if (t >= audio->holeFrom && t < audio->holeTo) continue;
            AudioBlock block;
            block.pts = MediaTime(at, kRate);
            for (int64_t i = at; i < at + 960; ++i) {
                const float v = audio->sound(double(i) / kRate - kOrigin);
                block.samples.insert(block.samples.end(), {v, v});
            }
            lane.push(block);
        }
        lane.endRun();
    }
    ClipExportResult save(const fs::path& folder, bool audio, double seconds = 30) {
        ExportProgress progress;
        return exporter.exportClip(*buffer, seconds, folder.string(), audio, progress);
    }

    test::SteppedClock clock;
    std::shared_ptr<CorvaneRingBuffer> buffer = std::make_shared<CorvaneRingBuffer>(130);
    LocalClipFiles files;
    AacAudioEncoderFactory audioEncoders;
    CorvaneExporter exporter{files, clock};
    test::TempDir dir;
};

TEST_F(ExporterTest, SoundAndPictureStartTogetherAndTheFileHoldsTheBuffersOwnPackets) {
    record(4.0, AudioScript{beeps});
    const ClipExportResult result = save(dir / "clips", true, 3);
    ASSERT_TRUE(result.ok()) << result.reason;
    const ClipSelection selection = buffer->getSamplesForClip(3, true);
    ASSERT_TRUE(selection);
    const ClipSamples& clip = *selection.clip;
    EXPECT_DOUBLE_EQ(result.actualSeconds, clip.actualDuration);
    EXPECT_EQ(fs::path(result.path).parent_path(), dir / "clips");
    EXPECT_NE(result.path.find("_4s.mp4"), std::string::npos);  // 3.967 s rounds to 4
    EXPECT_EQ(test::entriesIn(dir / "clips"), 1u);  // no temporary file left

    const test::DecodedClip file = test::decodeClip(result.path);
    ASSERT_GE(file.videoStream, 0);
    ASSERT_GE(file.audioStream, 0);
    EXPECT_EQ(file.decodeErrors, 0);
    const test::ClipStream& video = file.streams[size_t(file.videoStream)];
    const test::ClipStream& audio = file.streams[size_t(file.audioStream)];
    EXPECT_EQ(video.codec + " " + std::to_string(video.width) + "x" + std::to_string(video.height), "h264 320x240");
    EXPECT_EQ(audio.codec + " " + std::to_string(audio.sampleRate) + " " + std::to_string(audio.channels), "aac 48000 2");
    EXPECT_NEAR(video.startSeconds, 0, 1e-6);
    EXPECT_NEAR(audio.startSeconds, 0, 1e-6);
    EXPECT_NEAR(audio.durationSeconds, video.durationSeconds, 1.0 / kRate) << "the file lasts as long as its video";
    EXPECT_NEAR(video.durationSeconds, clip.actualDuration + 1.0 / kFps, 1e-3);

    // Video packets are the buffer's own, in order; keyframes exactly on the one-second grid.
    std::vector<const test::ClipPacket*> muxedVideo, muxedAudio;
    for (const auto& p : file.packets) (p.stream == file.videoStream ? muxedVideo : muxedAudio).push_back(&p);
    ASSERT_EQ(muxedVideo.size(), clip.video.size());
    EXPECT_EQ(file.frameIndices.size(), muxedVideo.size());
    for (size_t i = 0; i < muxedVideo.size(); ++i) {
        EXPECT_EQ(muxedVideo[i]->key, i % kFps == 0) << "packet " << i;
        EXPECT_NEAR(muxedVideo[i]->ptsSeconds, double(i) / kFps, 1e-4);
        EXPECT_EQ(muxedVideo[i]->data, clip.video[i]->data) << "packet " << i;
    }
    // Audio packets too, byte for byte: nothing was encoded at save time.
    ASSERT_EQ(muxedAudio.size(), clip.audio.packets.size());
    size_t captured = 0;
    for (size_t i = 0; i < muxedAudio.size(); ++i) {
        const ClipAudioPacket& entry = clip.audio.packets[i];
        captured += entry.packet != nullptr;
        EXPECT_EQ(muxedAudio[i]->data, entry.packet ? entry.packet->data : clip.audio.format->silentPacket) << i;
    }
    EXPECT_GE(captured + 3, muxedAudio.size()) << "silence only for the tail the encoder still held";

    // The first beep sounds at its capture time after the first frame, within one AAC frame.
    const double startSeconds = clip.startPTS.seconds() - kOrigin;
    const double expected = std::ceil(startSeconds - 0.3) + 0.3 - startSeconds;
    size_t onset = 0;
    while (onset * 2 < file.pcm.size() && std::fabs(file.pcm[onset * 2]) < 0.1f) ++onset;
    EXPECT_NEAR(double(onset) / kRate, expected, 1024.0 / kRate) << "heard at " << double(onset) / kRate;
    // The audio covers the whole video span.
    EXPECT_NEAR(double(file.pcm.size()) / 2 / kRate, video.durationSeconds, 1024.0 / kRate);
}

// The encoder stores H.264 as the file holds it, so a save copies it untouched: the same record
// and packets FFmpeg's muxer makes of the encoder's own Annex B output.
TEST_F(ExporterTest, BufferedH264IsWhatTheMuxerWouldWriteFromAnnexB) {
    record(1.0, std::nullopt);
    const ClipSelection selection = buffer->getSamplesForClip(1, false);
    ASSERT_TRUE(selection);
    const ClipSamples& clip = *selection.clip;
    VideoStreamFormat annexFormat = *clip.video.front()->format;
    annexFormat.extradata = annexB(annexFormat.extradata, true);
    ASSERT_EQ(clip.video.front()->format->extradata.at(0), 1) << "an avcC record, version 1";

    const fs::path path = dir / "annexb.mp4";
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        FdClipFileSink sink(fd);
        std::atomic<bool> abandoned{false};
        int error = 0;
        auto out = Mp4ClipOutput::open(sink, annexFormat, kFps * 1000, nullptr, abandoned, error);
        ASSERT_TRUE(out) << error;
        for (const auto& packet : clip.video) {
            VideoPacket annex = *packet;
            annex.data = annexB(packet->data, false);
            ASSERT_EQ(out->writeVideo(annex, packet->pts - clip.startPTS), 0);
        }
        ASSERT_EQ(out->finish(), 0);
        ::close(fd);
    }
    const test::DecodedClip file = test::decodeClip(path.string());
    EXPECT_EQ(file.decodeErrors, 0);
    EXPECT_EQ(file.extradata, clip.video.front()->format->extradata);
    ASSERT_EQ(file.packets.size(), clip.video.size());
    for (size_t i = 0; i < clip.video.size(); ++i) EXPECT_EQ(file.packets[i].data, clip.video[i]->data) << "packet " << i;
}

// A hole in the sound (filled with silence while recording) and a restart of the audio stream
// (a new encoder run) decode cleanly: silence of the hole's length, and no burst at the seam.
TEST_F(ExporterTest, AHoleBecomesSilenceOfItsLengthAndAnAudioRestartGivesNoClick) {
    record(5.0, AudioScript{sine, 1.0, 2.0, 3.0, 0.0123});
    const ClipSelection selection = buffer->getSamplesForClip(30, true);
    ASSERT_TRUE(selection);
    std::set<const AudioStreamFormat*> runs;
    for (const ClipAudioPacket& p : selection.clip->audio.packets)
        if (p.packet) runs.insert(p.packet->format.get());
    ASSERT_EQ(runs.size(), 2u) << "the clip spans two encoder runs";

    const ClipExportResult result = save(dir.path(), true);
    ASSERT_TRUE(result.ok());
    const test::DecodedClip file = test::decodeClip(result.path);
    EXPECT_EQ(file.decodeErrors, 0);
    const std::vector<float>& pcm = file.pcm;
    for (const auto& [from, to] : {std::pair{0.2, 0.9}, {2.1, 2.9}, {3.1, 4.8}})
        EXPECT_NEAR(rms(pcm, from, to), 0.25 / std::sqrt(2.0), 0.02) << from;
    // The hole is the silence: 10 ms windows without sound between the two stretches of tone.
    int silentWindows = 0;
    for (double t = 0.5; t < 2.5; t += 0.01) silentWindows += rms(pcm, t, t + 0.01) < 0.005;
    EXPECT_NEAR(silentWindows, 100, 3);
    // Across the seam nothing louder than the tone itself: two runs glued without a burst.
    float loudest = 0;
    for (size_t i = size_t(2.9 * kRate) * 2; i < size_t(3.1 * kRate) * 2 && i < pcm.size(); ++i)
        loudest = std::max(loudest, std::fabs(pcm[i]));
    EXPECT_LT(loudest, 0.3f);
    EXPECT_NEAR(double(pcm.size()) / 2 / kRate, file.streams[size_t(file.videoStream)].durationSeconds, 1024.0 / kRate);
}

struct FullDiskSink final : ClipFileSink {  // every write fails as on a full disk
    int write(const uint8_t*, size_t) override { return ENOSPC; }
    int64_t seek(int64_t, int) override { return -ENOSPC; }
    int flushToDisk() override { return ENOSPC; }
};

// A span across a change of picture size is saved as one playable file per size, in order; a
// file that cannot be written is reported while the other is kept.
TEST_F(ExporterTest, ASaveAcrossAPictureChangeWritesOneFilePerSize) {
    record(3.0, AudioScript{}, 320, 240);
    record(2.0, AudioScript{}, 240, 160, 3.2);  // a restart with a smaller picture
    const ClipExportResult result = save(dir.path(), true, 10);
    ASSERT_TRUE(result.ok()) << result.reason;
    ASSERT_EQ(result.earlierPaths.size(), 1u);
    EXPECT_EQ(test::entriesIn(dir.path()), 2u);
    const std::pair<std::string, std::string> written[] = {{result.earlierPaths[0], "_3s_part1.mp4 320x240"},
                                                           {result.path, "_2s_part2.mp4 240x160"}};
    for (const auto& [path, expected] : written) {
        const test::DecodedClip file = test::decodeClip(path);
        ASSERT_GE(file.videoStream, 0);
        EXPECT_EQ(file.decodeErrors, 0);
        const test::ClipStream& video = file.streams[size_t(file.videoStream)];
        EXPECT_EQ(path.substr(path.size() - 13) + " " + std::to_string(video.width) + "x" +
                      std::to_string(video.height), expected);
        EXPECT_NEAR(double(file.pcm.size()) / 2 / kRate, video.durationSeconds, 1024.0 / kRate);
    }

    int sinks = 0;
    ClipWriteOptions options;
    options.makeSink = [&](int fd) -> std::unique_ptr<ClipFileSink> {
        return ++sinks == 1 ? std::unique_ptr<ClipFileSink>(new FullDiskSink) : std::make_unique<FdClipFileSink>(fd);
    };
    ExportProgress progress;
    const ClipExportResult partly =
        CorvaneExporter(files, clock, options).exportClip(*buffer, 10, (dir / "partly").string(), true, progress);
    ASSERT_TRUE(partly.ok() && partly.earlierPaths.empty() && partly.failedParts.size() == 1);
    EXPECT_EQ(std::to_string(partly.failedParts[0].part) + " " + partly.failedParts[0].reason, "1 No space left on device");
    EXPECT_EQ(test::entriesIn(dir / "partly"), 1u) << "the second file, and nothing temporary";
}

// A write that hangs (a stalled network mount): the engine gives the save up while it hangs;
// when the write finally returns, the export stops and its temporary file goes.
class HangingSink final : public ClipFileSink {
public:
    HangingSink(int fd, std::promise<void>& hung, std::shared_future<void> release)
        : real_(fd), hung_(hung), release_(std::move(release)) {}
    int write(const uint8_t* data, size_t size) override {
        if (first_) {
            first_ = false;
            hung_.set_value();
            release_.wait();
        }
        return real_.write(data, size);
    }
    int64_t seek(int64_t offset, int whence) override { return real_.seek(offset, whence); }
    int flushToDisk() override { return real_.flushToDisk(); }

private:
    FdClipFileSink real_;
    std::promise<void>& hung_;
    std::shared_future<void> release_;
    bool first_ = true;
};

TEST_F(ExporterTest, AWriteGivenUpWhileItHangsRemovesItsFileWhenItReturns) {
    record(2.0);
    std::promise<void> hung, release;
    std::shared_future<void> released = release.get_future().share();
    ClipWriteOptions options;
    options.makeSink = [&](int fd) { return std::make_unique<HangingSink>(fd, hung, released); };
    CorvaneExporter hanging(files, clock, options);
    ExportProgress progress;
    ClipExportResult result;
    std::thread save([&] { result = hanging.exportClip(*buffer, 30, dir.path().string(), true, progress); });
    hung.get_future().wait();
    EXPECT_EQ(test::entriesIn(dir.path()), 1u) << "the temporary file, while it hangs";
    progress.abandoned = true;
    release.set_value();
    save.join();
    EXPECT_EQ(result.failure, ClipExportResult::Failure::CouldNotWrite);
    EXPECT_EQ(test::entriesIn(dir.path()), 0u);
    EXPECT_TRUE(buffer->getSamplesForClip(30, true)) << "the buffer is untouched";
}

// Two saves in the same second keep both files; audio off gives video only. Write failures, the
// same for every user: a folder that cannot be made (its parent is a file) and a file-size limit
// hit halfway through the file (a full disk is FullDiskSink above). An empty buffer writes nothing.
TEST_F(ExporterTest, SavesNeverReplaceAFileAndFailuresGiveTheReasonLeaveNothingAndKeepTheBuffer) {
    record(4.0);
    const ClipExportResult first = save(dir / "clips", false), second = save(dir / "clips", false);
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_EQ(second.path.substr(second.path.size() - 9), "_4s_2.mp4");
    EXPECT_EQ(fs::file_size(first.path), fs::file_size(second.path));
    const test::DecodedClip videoOnly = test::decodeClip(first.path);
    ASSERT_EQ(videoOnly.streams.size(), 1u);
    EXPECT_EQ(videoOnly.streams[0].codec, "h264");

    const size_t buffered = buffer->getStatus().videoCount;
    std::ofstream(dir / "file") << "x";
    const ClipExportResult notAFolder = save(dir / "file" / "clips", true);
    EXPECT_EQ(notAFolder.reason, "Not a directory");

    fs::create_directories(dir / "small");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit{64 * 1024, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
    test::LogCapture log;
    const ClipExportResult tooLarge = save(dir / "small", true);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(tooLarge.failure, ClipExportResult::Failure::CouldNotWrite);
    EXPECT_EQ(tooLarge.reason, "File too large");
    EXPECT_EQ(test::entriesIn(dir / "small"), 0u) << "a half-written file was left";
    EXPECT_FALSE(log.contains("Clip saved successfully"));
    EXPECT_EQ(buffer->getStatus().videoCount, buffered);

    buffer->clear();
    EXPECT_EQ(save(dir / "new", true).failure, ClipExportResult::Failure::NotEnoughVideo);
}

}  // namespace
}  // namespace corvane
