#pragma once

#include <string>
#include <string_view>

namespace corvane {

// The current user's home folder: $HOME when set and not empty, else the password database's
// entry for the real user id. Never "/" by accident: when both are missing the temporary folder
// is used. Thread-safe.
std::string homeDirectory();

// A leading "~" alone or followed by "/" becomes the home folder; other paths are unchanged.
std::string expandTilde(std::string_view path);

// Result of reading a text file that should hold UTF-8.
struct FileReadResult {
    enum class Status { Ok, Missing, Unreadable };
    Status status = Status::Missing;
    std::string text;    // the whole file when Ok
    std::string reason;  // why, when Unreadable ("Permission denied", "not valid UTF-8", ...)
    bool ok() const { return status == Status::Ok; }
};

// A settings file is a few kilobytes; anything beyond this is not one.
inline constexpr long long kMaxTextFileBytes = 16ll * 1024 * 1024;

// Reads a whole regular file of at most kMaxTextFileBytes and checks that it is valid UTF-8.
// Folders, FIFOs and devices are Unreadable (never waited on). Blocks on I/O; thread-safe.
FileReadResult readUtf8File(const std::string& path);

// Outcome of a write; `error` is the system's text for the failure ("No space left on device").
struct FileWriteResult {
    bool ok = true;
    std::string error;
};

// Creates the folder and every missing parent.
FileWriteResult createFolders(const std::string& folder);

// Replaces `path` with `text` atomically: the containing folder is created, the text goes to a
// temporary file beside it, is flushed to disk, then renamed over the target, so a reader sees
// either the old or the new file, never a part. The temporary file is removed on failure.
// Blocks on I/O; thread-safe for different paths.
FileWriteResult writeFileAtomically(const std::string& path, std::string_view text);

}  // namespace corvane
