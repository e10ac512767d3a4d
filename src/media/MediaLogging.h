#pragma once

namespace corvane {

// Keeps FFmpeg's own chatter (encoder banners, per-stream statistics) off the terminal: only its
// errors are printed. Corvane reports what matters itself, in "[Corvane] " lines.
// CORVANE_FFMPEG_LOG=verbose restores FFmpeg's full log for diagnosis.
void quietMediaLibraryLogs();

// While one lives, FFmpeg messages logged on the thread that created it are dropped; other
// threads still print theirs. For expected failures (probing encoders that have no device here)
// that would otherwise print errors. Nests; not movable; destroyed on the creating thread.
// Under CORVANE_FFMPEG_LOG=verbose nothing is dropped.
class ScopedQuietMediaLogs {
public:
    ScopedQuietMediaLogs();
    ~ScopedQuietMediaLogs();
    ScopedQuietMediaLogs(const ScopedQuietMediaLogs&) = delete;
    ScopedQuietMediaLogs& operator=(const ScopedQuietMediaLogs&) = delete;
};

}  // namespace corvane
