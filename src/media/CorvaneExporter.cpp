#include "media/CorvaneExporter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "core/config/ConfigFile.h"
#include "core/export/ClipFileName.h"
#include "core/files/FileMover.h"
#include "core/log/Log.h"
#include "core/replay/CorvaneRingBuffer.h"
#include "media/audio/AacAudioEncoder.h"
#include "media/export/Mp4ClipOutput.h"

extern "C" {
#include <libavutil/error.h>
}

namespace corvane {
namespace {

constexpr int kMaxCopies = 1000;

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

ClipExportResult givenUp() {
    logLine("Export given up: the save took too long");
    return couldNotWrite("Writing the clip took too long");
}

// The hidden temporary file in the clips folder: the folder watch skips dot files, and a rename
// within one file system makes the finished clip appear whole. Removed unless kept.
struct TemporaryClip {
    std::string path;
    int fd = -1;
    bool keep = false;

    ~TemporaryClip() {
        if (fd >= 0) ::close(fd);
        if (!keep && !path.empty()) ::unlink(path.c_str());
    }
    // 0 or the errno.
    int create(const std::string& folder) {
        std::string name = folder + "/.tmp_clip_XXXXXX.mp4";
        fd = ::mkstemps(name.data(), 4);
        if (fd < 0) return errno;
        path = std::move(name);
        // mkstemp makes the file private (0600); a saved clip gets the mode any new file would get.
        ::fchmod(fd, 0666 & ~processUmask());
        return 0;
    }
};

int syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

// Hands every packet of the clip to the file in time order (video first on equal times), audio
// from its silent packet where the clip has none. 0 or the first libav error.
int writeInterleaved(Mp4ClipOutput& output, const ClipSamples& clip, const AudioStreamFormat* audioFormat,
                     ExportProgress& progress) {
    const std::vector<VideoSampleRef>& video = clip.video;
    const std::vector<ClipAudioPacket>& audio = clip.audio.packets;
    const size_t audioTotal = audioFormat ? audio.size() : 0;
    progress.videoTotal = video.size();
    progress.audioTotal = audioTotal;
    progress.phase = ExportProgress::Phase::Writing;
    size_t v = 0, a = 0;
    while (v < video.size() || a < audioTotal) {
        const bool takeVideo = v < video.size() && (a >= audioTotal || video[v]->pts <= audio[a].pts);
        int error;
        if (takeVideo) {
            error = output.writeVideo(*video[v], video[v]->pts - clip.startPTS);
            if (error == 0) progress.videoWritten = ++v;
        } else {
            const ClipAudioPacket& entry = audio[a];
            const std::span<const uint8_t> bytes =
                entry.packet ? std::span<const uint8_t>(entry.packet->data.data(), entry.packet->data.size())
                             : std::span<const uint8_t>(audioFormat->silentPacket);
            error = output.writeAudio(bytes.data(), bytes.size(), entry.pts - clip.startPTS, entry.duration);
            if (error == 0) progress.audioWritten = ++a;
        }
        if (error < 0) return error;
        progress.steps.fetch_add(1, std::memory_order_relaxed);
    }
    return 0;
}

}  // namespace

CorvaneExporter::CorvaneExporter(FileMover& files, const Clock& clock, ClipWriteOptions options)
    : files_(files), clock_(clock), options_(std::move(options)) {}

ClipExportResult CorvaneExporter::exportClip(CorvaneRingBuffer& ringBuffer, double durationSeconds,
                                             const std::string& outputDir, bool recordAudio,
                                             ExportProgress& progress) {
    const WallTime exportTime = clock_.wallNow();
    ClipSelection selection = ringBuffer.getSamplesForClip(durationSeconds, recordAudio);
    if (!selection) {
        logLine("Unable to export: no video samples or keyframe available");
        ClipExportResult result;
        result.failure = ClipExportResult::Failure::NotEnoughVideo;
        result.reason = selection.message.empty() ? "No video has been captured yet" : selection.message;
        return result;
    }
    progress.steps.fetch_add(1);

    const std::string folder = expandTilde(outputDir);
    if (FileWriteResult made = createFolders(folder); !made.ok) {
        logLine("Error creating export directory: " + made.error);
        return couldNotWrite(made.error);
    }

    // One file per video format, in time order; a file that fails does not stop the others.
    std::vector<const ClipSamples*> parts;
    for (const ClipSamples& part : selection.earlierParts) parts.push_back(&part);
    parts.push_back(&*selection.clip);
    const bool split = parts.size() > 1;
    if (split) {
        logLine("The video format changed within the clip: saving it as " + std::to_string(parts.size()) +
                " files");
    }

    ClipExportResult result;
    result.partCount = int(parts.size());
    progress.filesTotal = result.partCount;
    std::optional<ClipExportResult> firstFailure;
    std::vector<std::string> written;
    std::string savedText;
    for (size_t i = 0; i < parts.size(); ++i) {
        ClipExportResult file =
            writeClipFile(*parts[i], folder, exportTime, split ? int(i) + 1 : 0, progress);
        if (progress.abandoned) return file.ok() ? givenUp() : file;  // the others would be too late
        if (!file.ok()) {
            if (split) result.failedParts.push_back({int(i) + 1, file.reason});
            if (!firstFailure) firstFailure = std::move(file);
            continue;
        }
        ++progress.filesWritten;
        written.push_back(file.path);
        result.actualSeconds += file.actualSeconds;
        savedText += (savedText.empty() ? "" : ", ") + file.path + " (" + format1(file.actualSeconds) + "s)";
    }
    if (written.empty()) return std::move(*firstFailure);
    progress.phase = ExportProgress::Phase::Done;

    logLine("Clip saved successfully: " + savedText);
    result.path = written.back();
    written.pop_back();
    result.earlierPaths = std::move(written);
    return result;
}

// One MP4 under a hidden temporary name, renamed into place when complete. On success the path
// and the clip's length; nothing is left behind on failure.
ClipExportResult CorvaneExporter::writeClipFile(const ClipSamples& clip, const std::string& folder,
                                                WallTime exportTime, int part, ExportProgress& progress) {
    // ---- Output set-up: temporary file, header ----
    const std::shared_ptr<const VideoStreamFormat> videoFormat = clip.video.front()->format;
    if (!videoFormat) {
        logLine("Video format description not found");
        return couldNotWrite("The recorded video has no stream format");
    }
    std::shared_ptr<const AudioStreamFormat> audioFormat;
    if (!clip.audio.packets.empty()) {
        audioFormat = clip.audio.format ? clip.audio.format : AacAudioEncoder::standardFormat();
        if (!audioFormat || audioFormat->silentPacket.empty()) {
            logLine("Warning: writer.canApply(audioSettings) returned false");
            audioFormat.reset();
        }
    }

    TemporaryClip temp;
    if (const int error = temp.create(folder); error != 0) {
        logLine("writer.startWriting() failed: " + std::string(std::strerror(error)));
        return couldNotWrite(std::strerror(error));
    }
    progress.steps.fetch_add(1);
    std::unique_ptr<ClipFileSink> sink =
        options_.makeSink ? options_.makeSink(temp.fd) : std::make_unique<FdClipFileSink>(temp.fd);
    int error = 0;
    std::unique_ptr<Mp4ClipOutput> output = Mp4ClipOutput::open(
        *sink, *videoFormat, clip.startPTS.timescale(), audioFormat.get(), progress.abandoned, error);
    if (!output) {
        if (progress.abandoned) return givenUp();
        logLine("writer.startWriting() failed: " + avError(error));
        return couldNotWrite(avError(error));
    }

    // ---- Interleaved write ----
    error = writeInterleaved(*output, clip, audioFormat.get(), progress);
    if (progress.abandoned) return givenUp();
    if (error < 0) {
        if (progress.videoWritten == 0)
            logLine("Export failed: 0 video frames were written before writer aborted");
        logLine("Writer status aborted before finish: 3, error: " + avError(error));
        return couldNotWrite(avError(error));
    }

    // ---- Finish and rename ----
    progress.phase = ExportProgress::Phase::Finishing;
    error = output->finish();
    output.reset();
    if (error >= 0 && options_.flushToDisk) error = AVERROR(sink->flushToDisk());
    if (progress.abandoned) return givenUp();
    if (error < 0) {
        logLine("finishWriting status: 3, error: " + avError(error));
        return couldNotWrite(avError(error));
    }

    std::string finalPath;
    for (int copy = 1; copy <= kMaxCopies && finalPath.empty(); ++copy) {
        const std::string candidate = folder + "/" + clipFileName(exportTime, clip.actualDuration, copy, part);
        const FileOpResult moved = files_.moveNoReplace(temp.path, candidate);
        if (moved.ok()) {
            finalPath = candidate;
        } else if (moved.status != FileOpResult::Status::Exists || copy == kMaxCopies) {
            const std::string reason = moved.message.empty() ? std::strerror(EEXIST) : moved.message;
            logLine("finishWriting status: 3, error: " + reason);
            return couldNotWrite(reason);
        }
    }
    temp.keep = true;
    if (options_.flushToDisk) syncFolder(folder);  // the new name itself becomes durable

    ClipExportResult result;
    result.path = finalPath;
    result.actualSeconds = clip.actualDuration;
    return result;
}

}  // namespace corvane
