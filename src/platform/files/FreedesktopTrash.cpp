#include "platform/files/FreedesktopTrash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>

#include "core/config/ConfigFile.h"

namespace corvane {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxNameTries = 10000;

// One trash folder chosen for a file: its root (holding files/ and info/) and how the record
// names the original (absolute in the home trash, relative to the top folder elsewhere).
struct TrashFolder {
    std::string root;
    std::string topFolder;  // empty for the home trash
};

std::optional<struct stat> lstatOf(const std::string& path) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return st;
}

std::optional<struct stat> statOf(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return st;
}

// A folder of ours to keep trash in: a real folder (not a link to one), owned by us.
bool isOwnFolder(const std::string& path) {
    const auto st = lstatOf(path);
    return st && S_ISDIR(st->st_mode) && st->st_uid == ::getuid();
}

// Makes `path` and its missing parents with `mode`; true when it is a folder afterwards.
bool makeFolders(const std::string& path, mode_t mode) {
    if (const auto st = statOf(path)) return S_ISDIR(st->st_mode);
    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty() && parent != fs::path(path) && !makeFolders(parent.string(), mode)) return false;
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return false;
    const auto st = statOf(path);
    return st && S_ISDIR(st->st_mode);
}

// The trash root with its files/ and info/ folders (0700), or false.
bool prepareTrashRoot(const std::string& root) {
    return makeFolders(root + "/files", 0700) && makeFolders(root + "/info", 0700);
}

// The device of `path`, or of its nearest existing parent when it does not exist yet.
std::optional<dev_t> deviceOf(fs::path path) {
    for (;;) {
        if (const auto st = statOf(path.string())) return st->st_dev;
        if (!path.has_parent_path() || path.parent_path() == path) return std::nullopt;
        path = path.parent_path();
    }
}

// The top folder of the file system holding `folder` (a canonical path): the highest folder
// above it on the same device.
std::string topFolderOf(const fs::path& folder, dev_t device) {
    fs::path top = folder;
    while (top.has_parent_path() && top.parent_path() != top) {
        const auto st = statOf(top.parent_path().string());
        if (!st || st->st_dev != device) break;
        top = top.parent_path();
    }
    return top.string();
}

// $top/.Trash/$uid when $top/.Trash is a sticky folder and no symbolic link, else $top/.Trash-$uid.
std::optional<TrashFolder> topFolderTrash(const std::string& top) {
    const std::string uid = std::to_string(::getuid());
    const std::string base = top == "/" ? "" : top;
    const std::string shared = base + "/.Trash";
    if (const auto st = lstatOf(shared); st && S_ISDIR(st->st_mode) && (st->st_mode & S_ISVTX)) {
        const std::string mine = shared + "/" + uid;
        ::mkdir(mine.c_str(), 0700);
        if (isOwnFolder(mine) && prepareTrashRoot(mine)) return TrashFolder{mine, top};
    }
    const std::string own = base + "/.Trash-" + uid;
    ::mkdir(own.c_str(), 0700);
    if (isOwnFolder(own) && prepareTrashRoot(own)) return TrashFolder{own, top};
    return std::nullopt;
}

// Percent-encodes a path for the record's Path key; "/" and unreserved characters stay.
std::string escapedPath(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

std::string localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// "clip.mp4", then "clip.2.mp4", "clip.3.mp4", ...
std::string candidateName(const std::string& name, int n) {
    if (n == 1) return name;
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return name + "." + std::to_string(n);
    return name.substr(0, dot) + "." + std::to_string(n) + name.substr(dot);
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string FreedesktopTrash::homeTrashFolder() {
    // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules say.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') return std::string(dataHome) + "/Trash";
    return homeDirectory() + "/.local/share/Trash";
}

FileOpResult FreedesktopTrash::moveToTrash(const std::string& path) {
    const auto file = lstatOf(path);
    if (!file) return FileOpResult::fromErrno(errno);
    std::error_code ec;
    const fs::path folder = fs::canonical(fs::absolute(path).parent_path(), ec);
    if (ec) return FileOpResult::fromErrno(ec.value());
    const std::string name = fs::path(path).filename().string();
    const std::string original = (folder / name).string();

    std::optional<TrashFolder> trash;
    const std::string home = homeTrashFolder();
    if (deviceOf(home) == file->st_dev) {
        if (!prepareTrashRoot(home)) {
            return FileOpResult::failed(errno ? errno : EACCES,
                                        "the Trash folder " + home + " could not be made");
        }
        trash = TrashFolder{home, {}};
    } else {
        trash = topFolderTrash(topFolderOf(folder, file->st_dev));
    }
    if (!trash) {
        return FileOpResult::failed(
            EXDEV, "its drive (" + topFolderOf(folder, file->st_dev) + ") has no trash folder Corvane may use");
    }

    std::string recorded = original;
    if (!trash->topFolder.empty()) {
        recorded = fs::path(original).lexically_relative(trash->topFolder).string();
    }
    const std::string record = "[Trash Info]\nPath=" + escapedPath(recorded) + "\nDeletionDate=" + localTimeNow() + "\n";

    for (int n = 1; n <= kMaxNameTries; ++n) {
        const std::string trashName = candidateName(name, n);
        const std::string infoPath = trash->root + "/info/" + trashName + ".trashinfo";
        // The record claims the name: created exclusively, so two programs never share one.
        const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return FileOpResult::fromErrno(errno);
        }
        const bool written = writeAll(fd, record);
        const int writeErr = errno;
        ::close(fd);
        if (!written) {
            ::unlink(infoPath.c_str());
            return FileOpResult::fromErrno(writeErr ? writeErr : EIO);
        }
        const FileOpResult moved = mover_.moveNoReplace(path, trash->root + "/files/" + trashName);
        if (moved.ok()) return moved;
        ::unlink(infoPath.c_str());
        if (moved.status != FileOpResult::Status::Exists) return moved;
    }
    return FileOpResult::failed(EEXIST, "the Trash has no free name for it");
}

}  // namespace corvane
