#include "media/export/NoReplaceRename.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

int renameNoReplace(const std::string& from, const std::string& target) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    // File systems without RENAME_NOREPLACE: a hard link fails atomically on an existing name.
    if (::link(from.c_str(), target.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno == EEXIST) return EEXIST;
    // No hard links either (FAT, some FUSE mounts): check, then rename; the engine runs one
    // save at a time, so the window between the two is not raced by ourselves.
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0) return EEXIST;
    return ::rename(from.c_str(), target.c_str()) == 0 ? 0 : errno;
}

}  // namespace corvane
