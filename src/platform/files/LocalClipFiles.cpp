#include "platform/files/LocalClipFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace corvane {

std::optional<std::vector<FolderEntry>> LocalClipFiles::list(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return std::nullopt;
    const int dfd = ::dirfd(dir);
    std::vector<FolderEntry> entries;
    while (const dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        FolderEntry e;
        e.name = name;
        // stat, never open: a FIFO or device must not be touched.
        struct stat st{};
        if (::fstatat(dfd, d->d_name, &st, 0) == 0) {
            e.isRegularFile = S_ISREG(st.st_mode);
            if (!S_ISDIR(st.st_mode)) e.size = static_cast<int64_t>(st.st_size);
            e.modified = WallTime(std::chrono::duration_cast<WallTime::duration>(
                std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
        }
        entries.push_back(std::move(e));
    }
    ::closedir(dir);
    return entries;
}

bool LocalClipFiles::exists(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

FileOpResult LocalClipFiles::moveNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return FileOpResult::success();
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return FileOpResult::fromErrno(errno);
    // No RENAME_NOREPLACE here: a hard link fails atomically on an existing name.
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) == 0) return FileOpResult::success();
        const int unlinkErr = errno;
        ::unlink(to.c_str());  // one name per file: the move did not happen
        return FileOpResult::fromErrno(unlinkErr);
    }
    if (errno == EEXIST) return FileOpResult::fromErrno(EEXIST);
    // No hard links either: check, then rename. Corvane's own writers (one save at a time, trims
    // with unique temporary names) never race this themselves.
    struct stat st{};
    if (::lstat(to.c_str(), &st) == 0) return FileOpResult::fromErrno(EEXIST);
    if (::rename(from.c_str(), to.c_str()) == 0) return FileOpResult::success();
    return FileOpResult::fromErrno(errno);
}

FileOpResult LocalClipFiles::replace(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) == 0) return FileOpResult::success();
    return FileOpResult::fromErrno(errno);
}

void LocalClipFiles::removeQuietly(const std::string& path) { ::unlink(path.c_str()); }

void LocalClipFiles::createFolders(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
}

}  // namespace corvane
