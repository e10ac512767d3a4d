#include "media/export/ClipFileSink.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace corvane {
namespace {

constexpr int64_t kWritebackStep = 16 << 20;

}  // namespace

int FdClipFileSink::write(const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += n;
        size -= size_t(n);
        position_ += n;
    }
    if (position_ - writebackStarted_ >= kWritebackStep) {
        // Asynchronous: queues the range for writing and returns.
        ::sync_file_range(fd_, writebackStarted_, position_ - writebackStarted_, SYNC_FILE_RANGE_WRITE);
        writebackStarted_ = position_;
    }
    return 0;
}

int64_t FdClipFileSink::seek(int64_t offset, int whence) {
    const off_t at = ::lseek(fd_, off_t(offset), whence);
    if (at < 0) return -errno;
    position_ = at;
    return at;
}

int FdClipFileSink::flushToDisk() { return ::fsync(fd_) == 0 ? 0 : errno; }

}  // namespace corvane
