#include "media/CorvaneExporter.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "core/config/ConfigFile.h"
#include "core/export/ClipFileName.h"
#include "core/files/FileMover.h"
#include "core/log/Log.h"
#include "core/replay/CorvaneRingBuffer.h"
#include "core/services/SoundPlayer.h"
#include "media/export/AacTrack.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

namespace corvane {
namespace {

// The process umask, read without changing it (umask() itself would race with other threads
// creating files). Falls back to the usual 022 where /proc does not say.
mode_t processUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    }
    return 022;
}

constexpr auto kStallLimit = std::chrono::seconds(3);
constexpr auto kFinishLimit = std::chrono::seconds(10);
constexpr int kMaxCopies = 1000;

std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string format1(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

ClipExportResult couldNotWrite(std::string reason) {
    ClipExportResult result;
    result.failure = ClipExportResult::Failure::CouldNotWrite;
    result.reason = std::move(reason);
    return result;
}

struct OutputDeleter {
    void operator()(AVFormatContext* oc) const {
        if (!oc) return;
        if (oc->pb) avio_closep(&oc->pb);
        avformat_free_context(oc);
    }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;

int64_t toStreamTime(MediaTime relative, AVRational timeBase) {
    return av_rescale_q(relative.value(), AVRational{1, relative.timescale()}, timeBase);
}

// Everything a write produced, for the outcome checks and the messages.
struct WriteReport {
    size_t videoWritten = 0;
    size_t audioWritten = 0;
    MediaTime lastVideoPts;
    int error = 0;  // the first muxer error, 0 when none
    bool stalled = false;
};

}  // namespace

CorvaneExporter::CorvaneExporter(FileMover& files, std::shared_ptr<SoundPlayer> soundPlayer, const Clock& clock)
    : files_(files), soundPlayer_(std::move(soundPlayer)), clock_(clock) {}

ClipExportResult CorvaneExporter::exportClip(CorvaneRingBuffer& ringBuffer, double durationSeconds,
                                             const std::string& outputDir, bool playSound,
                                             bool recordAudio) {
    const WallTime exportTime = clock_.wallNow();
    ClipSelection selection = ringBuffer.getSamplesForClip(durationSeconds, recordAudio);
    if (!selection) {
        logLine("Unable to export: no video samples or keyframe available");
        ClipExportResult result;
        result.failure = ClipExportResult::Failure::NotEnoughVideo;
        result.reason = selection.message.empty() ? "No video has been captured yet" : selection.message;
        return result;
    }
    const ClipSamples& clip = *selection.clip;

    const std::string folder = expandTilde(outputDir);
    if (FileWriteResult made = createFolders(folder); !made.ok) {
        logLine("Error creating export directory: " + made.error);
        return couldNotWrite(made.error);
    }

    const std::shared_ptr<const VideoStreamFormat> format = clip.video.front()->format;
    if (!format) {
        logLine("Video format description not found");
        return couldNotWrite("The recorded video has no stream format");
    }

    // Audio is encoded before the file exists, so a failure here never leaves anything behind.
    std::unique_ptr<AacTrack> audio;
    if (recordAudio && !clip.audio.empty()) {
        int status = 0;
        audio = AacTrack::encode(clip.audio, clip.startPTS, clip.video.back()->pts, status);
        if (!audio) logLine("Warning: writer.canApply(audioSettings) returned false");
    }

    // Hidden temporary file in the clips folder: the folder watch skips dot files, and a rename
    // within one file system makes the finished clip appear whole.
    std::string tempPath = folder + "/.tmp_clip_XXXXXX.mp4";
    const int fd = ::mkstemps(tempPath.data(), 4);
    if (fd < 0) {
        const std::string reason = std::strerror(errno);
        logLine("writer.startWriting() failed: " + reason);
        return couldNotWrite(reason);
    }
    // mkstemp makes the file private (0600); a saved clip gets the mode any new file would get.
    ::fchmod(fd, 0666 & ~processUmask());
    ::close(fd);
    auto discard = [&tempPath] { ::unlink(tempPath.c_str()); };

    AVFormatContext* rawOutput = nullptr;
    int err = avformat_alloc_output_context2(&rawOutput, nullptr, "mp4", tempPath.c_str());
    OutputPtr output(rawOutput);
    if (err < 0 || !output) {
        logLine("MP4 export error: " + avError(err));
        discard();
        return couldNotWrite(avError(err));
    }

    AVStream* videoStream = avformat_new_stream(output.get(), nullptr);
    if (!videoStream) {
        logLine("Unable to add video track to the MP4 file");
        discard();
        return couldNotWrite("The video track could not be added");
    }
    AVCodecParameters* vpar = videoStream->codecpar;
    vpar->codec_type = AVMEDIA_TYPE_VIDEO;
    vpar->codec_id = format->codec == VideoCodec::HEVC ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    vpar->width = format->width;
    vpar->height = format->height;
    vpar->format = AV_PIX_FMT_YUV420P;
    if (format->codec == VideoCodec::HEVC) vpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    if (!format->extradata.empty()) {
        vpar->extradata = static_cast<uint8_t*>(
            av_mallocz(format->extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(vpar->extradata, format->extradata.data(), format->extradata.size());
        vpar->extradata_size = int(format->extradata.size());
    }
    videoStream->time_base = AVRational{1, clip.startPTS.timescale()};
    if (format->fps > 0) videoStream->avg_frame_rate = AVRational{format->fps, 1};

    AVStream* audioStream = nullptr;
    if (audio) {
        AVCodecParameters* apar = avcodec_parameters_alloc();
        if (!apar || avcodec_parameters_copy(apar, audio->parameters()) < 0 ||
            !(audioStream = avformat_new_stream(output.get(), nullptr))) {
            logLine("Warning: writer.canAdd(audioInput) returned false");
            audio.reset();
        } else {
            avcodec_parameters_free(&audioStream->codecpar);
            audioStream->codecpar = apar;
            apar = nullptr;
            audioStream->time_base = AVRational{1, AudioBlock::kSampleRate};
        }
        avcodec_parameters_free(&apar);
    }

    if ((err = avio_open(&output->pb, tempPath.c_str(), AVIO_FLAG_WRITE)) < 0 ||
        (err = avformat_write_header(output.get(), nullptr)) < 0) {
        logLine("writer.startWriting() failed: " + avError(err));
        output.reset();
        discard();
        return couldNotWrite(avError(err));
    }

    // Merged by time, video first on equal stamps; every muxer error ends the write as failed.
    WriteReport report;
    const size_t videoTotal = clip.video.size();
    const size_t audioTotal = audio ? audio->packets().size() : 0;
    AVPacket* packet = av_packet_alloc();
    SteadyTime lastProgress = clock_.now();
    while (report.videoWritten < videoTotal || report.audioWritten < audioTotal) {
        if (clock_.now() - lastProgress > kStallLimit) {
            logLine("Timeout: Neither video nor audio input became ready for 3s (vIdx=" +
                    std::to_string(report.videoWritten) + "/" + std::to_string(videoTotal) +
                    ", aIdx=" + std::to_string(report.audioWritten) + "/" + std::to_string(audioTotal) + ")");
            report.stalled = true;
            break;
        }
        bool takeVideo = report.audioWritten >= audioTotal;
        const VideoPacket* video = report.videoWritten < videoTotal ? clip.video[report.videoWritten].get() : nullptr;
        if (!takeVideo && video) {
            const AVPacket* next = audio->packets()[report.audioWritten];
            const MediaTime rel = video->pts - clip.startPTS;
            takeVideo = av_compare_ts(rel.value(), AVRational{1, rel.timescale()}, next->pts,
                                      AVRational{1, AudioBlock::kSampleRate}) <= 0;
        }
        if (takeVideo) {
            if ((err = av_new_packet(packet, int(video->data.size()))) < 0) {
                report.error = err;
                break;
            }
            std::memcpy(packet->data, video->data.data(), video->data.size());
            const MediaTime rel = video->pts - clip.startPTS;
            packet->pts = packet->dts = toStreamTime(rel, videoStream->time_base);
            if (video->duration.isValid())
                packet->duration = toStreamTime(video->duration, videoStream->time_base);
            if (video->isKeyframe) packet->flags |= AV_PKT_FLAG_KEY;
            packet->stream_index = videoStream->index;
        } else {
            if ((err = av_packet_ref(packet, audio->packets()[report.audioWritten])) < 0) {
                report.error = err;
                break;
            }
            av_packet_rescale_ts(packet, AVRational{1, AudioBlock::kSampleRate}, audioStream->time_base);
            packet->stream_index = audioStream->index;
        }
        err = av_write_frame(output.get(), packet);
        av_packet_unref(packet);
        if (err < 0) {
            report.error = err;
            break;
        }
        if (takeVideo) {
            report.lastVideoPts = video->pts;
            ++report.videoWritten;
        } else {
            ++report.audioWritten;
        }
        lastProgress = clock_.now();
    }
    av_packet_free(&packet);

    if (report.videoWritten == 0) {
        logLine("Export failed: 0 video frames were written before writer aborted");
        output.reset();
        discard();
        return couldNotWrite(report.error < 0 ? avError(report.error) : "No video frame could be written");
    }
    if (report.videoWritten < videoTotal || report.audioWritten < audioTotal) {
        logLine("Warning: export ended early (video: " + std::to_string(report.videoWritten) + "/" +
                std::to_string(videoTotal) + ", audio: " + std::to_string(report.audioWritten) + "/" +
                std::to_string(audioTotal) + ")");
    }
    if (report.error < 0) {
        logLine("Writer status aborted before finish: 3, error: " + avError(report.error));
        output.reset();
        discard();
        return couldNotWrite(avError(report.error));
    }

    const SteadyTime finishStart = clock_.now();
    err = av_write_trailer(output.get());
    if (err >= 0) err = avio_closep(&output->pb);
    output.reset();
    if (err < 0) {
        logLine("finishWriting status: 3, error: " + avError(err));
        discard();
        return couldNotWrite(avError(err));
    }
    if (clock_.now() - finishStart > kFinishLimit) {
        logLine("Timeout while finalizing MP4 file");
        discard();
        return couldNotWrite("Finishing the file took too long");
    }

    // What the file really holds: all of the selection, or up to the last frame written.
    double actualSeconds = clip.actualDuration;
    if (report.videoWritten < videoTotal) {
        const double written = (report.lastVideoPts - clip.startPTS).seconds();
        actualSeconds = written > 0.1 ? written : 0.1;
    }

    std::string finalPath;
    for (int copy = 1; copy <= kMaxCopies; ++copy) {
        const std::string candidate = folder + "/" + clipFileName(exportTime, actualSeconds, copy);
        const FileOpResult moved = files_.moveNoReplace(tempPath, candidate);
        if (moved.ok()) {
            finalPath = candidate;
            break;
        }
        if (moved.status != FileOpResult::Status::Exists) {
            logLine("finishWriting status: 3, error: " + moved.message);
            discard();
            return couldNotWrite(moved.message);
        }
    }
    if (finalPath.empty()) {
        logLine("finishWriting status: 3, error: " + std::string(std::strerror(EEXIST)));
        discard();
        return couldNotWrite(std::strerror(EEXIST));
    }

    if (playSound && soundPlayer_) soundPlayer_->playSavedChime();
    logLine("Clip saved successfully: " + finalPath + " (" + format1(actualSeconds) + "s)");
    ClipExportResult result;
    result.path = finalPath;
    result.actualSeconds = actualSeconds;
    return result;
}

}  // namespace corvane
