#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace corvane {

// Where the muxer's bytes go: the clip's temporary file. Separate so tests can make a write hang
// or fail. Used from one thread.
class ClipFileSink {
public:
    virtual ~ClipFileSink() = default;
    // Writes everything at the current position: 0, or the errno.
    virtual int write(const uint8_t* data, size_t size) = 0;
    // lseek semantics: the new position, or -errno.
    virtual int64_t seek(int64_t offset, int whence) = 0;
    // Makes the written bytes durable (fsync): 0 or the errno.
    virtual int flushToDisk() = 0;
};

// The real sink on an open file descriptor (not owned). Starts the disk's writeback every few
// megabytes while the clip is written, so the flush at the end only waits for the tail.
class FdClipFileSink final : public ClipFileSink {
public:
    explicit FdClipFileSink(int fd) : fd_(fd) {}
    int write(const uint8_t* data, size_t size) override;
    int64_t seek(int64_t offset, int whence) override;
    int flushToDisk() override;

private:
    int fd_;
    int64_t position_ = 0;
    int64_t writebackStarted_ = 0;  // bytes before this offset are already on their way to disk
};

// Makes the sink for a clip's file descriptor; tests wrap the real one.
using ClipFileSinkFactory = std::function<std::unique_ptr<ClipFileSink>(int fd)>;

}  // namespace corvane
