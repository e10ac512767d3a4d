#pragma once

#include <string>

namespace corvane {

// Outcome of a file operation: ok, "a file is already there" (kept apart because callers react to
// it: rename refuses, save-as-new tries the next name), or another failure with the system's text.
struct FileOpResult {
    enum class Status { Ok, Exists, Failed };
    Status status = Status::Ok;
    int errorCode = 0;     // errno value for Exists/Failed
    std::string message;   // human-readable reason for Exists/Failed

    bool ok() const { return status == Status::Ok; }
    static FileOpResult success() { return {}; }
    static FileOpResult fromErrno(int err);
    static FileOpResult failed(int err, std::string message);
};

// Moves a finished file into place without ever replacing one that is there. The one real
// implementation lives with the platform's file operations (LocalClipFiles); the exporter and the
// clip library are handed it. Any thread; blocking for a few system calls.
class FileMover {
public:
    virtual ~FileMover() = default;
    // Moves `from` to `to` but never replaces an existing `to`: a file that appears at `to` at
    // any moment before the move gives Status::Exists and leaves both files as they were.
    virtual FileOpResult moveNoReplace(const std::string& from, const std::string& to) = 0;
};

}  // namespace corvane
