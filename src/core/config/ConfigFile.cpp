#include "core/config/ConfigFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

namespace corvane {
namespace {

std::string errnoText(int error) {
    char buffer[256];
    // GNU strerror_r returns the message, which may or may not live in `buffer`.
    return ::strerror_r(error, buffer, sizeof buffer);
}

// "<link> is a symbolic link to <target>, which does not exist" for the first component of
// `folder` that is such a link; empty when there is none.
std::string danglingLinkOnPath(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    fs::path prefix;
    for (const fs::path& part : folder) {
        prefix /= part;
        std::error_code ec;
        const fs::file_status own = fs::symlink_status(prefix, ec);
        if (ec || !fs::exists(own)) return {};
        if (!fs::is_symlink(own)) continue;
        if (fs::exists(fs::status(prefix, ec)) || ec.value() != ENOENT) continue;
        const fs::path target = fs::read_symlink(prefix, ec);
        return prefix.string() + " is a symbolic link to " + (ec ? std::string("a missing place") : target.string()) +
               ", which does not exist";
    }
    return {};
}

std::string passwordDatabaseHome() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    while (true) {
        int rc = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr || found->pw_dir == nullptr) return {};
        return found->pw_dir;
    }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (end - p <= extra) return false;
        if (p[1] < lo || p[1] > hi) return false;
        for (int i = 2; i <= extra; ++i) {
            if (p[i] < 0x80 || p[i] > 0xBF) return false;
        }
        p += extra + 1;
    }
    return true;
}

std::string randomSuffix() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(8, 'x');
    for (char& c : suffix) c = kAlphabet[generator() % (sizeof kAlphabet - 1)];
    return suffix;
}

bool writeAll(int fd, std::string_view text, int& error) {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return home;
    std::string fromDatabase = passwordDatabaseHome();
    if (!fromDatabase.empty()) return fromDatabase;
    std::error_code ec;
    auto temp = std::filesystem::temp_directory_path(ec);
    return ec ? std::string("/tmp") : temp.string();
}

std::string expandTilde(std::string_view path) {
    if (path.empty() || path[0] != '~') return std::string(path);
    if (path.size() > 1 && path[1] != '/') return std::string(path);
    std::string home = homeDirectory();
    std::string_view rest = path.substr(1);
    if (!home.empty() && home.back() == '/' && !rest.empty()) rest.remove_prefix(1);
    return home + std::string(rest);
}

FileReadResult readUtf8File(const std::string& path) {
    FileReadResult result;
    // Non-blocking, so that a FIFO in the file's place cannot stall start-up.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        int error = errno;
        if (error == ENOENT) {
            result.status = FileReadResult::Status::Missing;
        } else {
            result.status = FileReadResult::Status::Unreadable;
            result.reason = errnoText(error);
        }
        return result;
    }
    struct stat info {};
    std::string notReadable;
    if (::fstat(fd, &info) != 0) {
        notReadable = errnoText(errno);
    } else if (S_ISDIR(info.st_mode)) {
        notReadable = errnoText(EISDIR);
    } else if (!S_ISREG(info.st_mode)) {
        notReadable = "not a regular file";
    } else if (info.st_size > kMaxTextFileBytes) {
        notReadable = "larger than " + std::to_string(kMaxTextFileBytes / (1024 * 1024)) + " MiB";
    }
    if (!notReadable.empty()) {
        ::close(fd);
        result.status = FileReadResult::Status::Unreadable;
        result.reason = std::move(notReadable);
        return result;
    }
    std::string text;
    char buffer[65536];
    while (true) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            ::close(fd);
            result.status = FileReadResult::Status::Unreadable;
            result.reason = errnoText(error);
            return result;
        }
        if (n == 0) break;
        if (text.size() + static_cast<size_t>(n) > static_cast<size_t>(kMaxTextFileBytes)) {
            ::close(fd);  // grew while being read
            result.status = FileReadResult::Status::Unreadable;
            result.reason = "larger than " + std::to_string(kMaxTextFileBytes / (1024 * 1024)) + " MiB";
            return result;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!isValidUtf8(text)) {
        result.status = FileReadResult::Status::Unreadable;
        result.reason = "not valid UTF-8 text";
        return result;
    }
    result.status = FileReadResult::Status::Ok;
    result.text = std::move(text);
    return result;
}

FileWriteResult createFolders(const std::string& folder) {
    if (folder.empty()) return {};
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        // A link to a folder that is gone (an unmounted disk, a moved folder) makes the system
        // say "File exists", which sends the user looking for the wrong thing.
        const std::string dangling = danglingLinkOnPath(folder);
        return {false, dangling.empty() ? ec.message() : dangling};
    }
    return {};
}

FileWriteResult writeFileAtomically(const std::string& path, std::string_view text) {
    std::filesystem::path target(path);
    std::filesystem::path folder = target.parent_path();
    if (!folder.empty()) {
        if (FileWriteResult made = createFolders(folder.string()); !made.ok) return made;
    }
    std::string leaf = target.filename().string();
    if (leaf.empty()) return {false, errnoText(EISDIR)};

    // O_EXCL with a random name instead of mkstemp: the new file then gets the usual mode
    // (0666 less the umask) rather than mkstemp's 0600.
    std::string tempPath;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        tempPath = (folder / ("." + leaf + ".tmp-" + randomSuffix())).string();
        fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return {false, errnoText(errno)};

    int error = 0;
    bool written = writeAll(fd, text, error);
    if (written && ::fsync(fd) != 0) {
        error = errno;
        written = false;
    }
    if (::close(fd) != 0 && written) {
        error = errno;
        written = false;
    }
    if (written && ::rename(tempPath.c_str(), path.c_str()) != 0) {
        error = errno;
        written = false;
    }
    if (!written) {
        ::unlink(tempPath.c_str());
        return {false, errnoText(error)};
    }
    // Make the rename itself durable; a failure here does not undo a completed replacement.
    int dirFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return {};
}

}  // namespace corvane
