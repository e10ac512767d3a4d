#pragma once

namespace corvane {

// Keeps FFmpeg's own chatter (encoder banners, per-stream statistics) off the terminal: only its
// errors are printed. Corvane reports what matters itself, in "[Corvane] " lines.
// CORVANE_FFMPEG_LOG=verbose restores FFmpeg's full log for diagnosis.
void quietMediaLibraryLogs();

}  // namespace corvane
