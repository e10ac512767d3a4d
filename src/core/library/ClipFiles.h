#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/files/FileMover.h"
#include "core/sched/Clock.h"

namespace corvane {

// One direct entry of a folder, as the listing reports it. No entry is opened to get these values.
struct FolderEntry {
    std::string name;
    bool isRegularFile = false;        // a regular file (following a symbolic link)
    std::optional<int64_t> size;       // absent for folders and unreadable entries
    std::optional<WallTime> modified;  // content modification time; absent when unreadable
};

// The file-system actions of the clip library. The real implementation is LocalClipFiles
// (platform); tests substitute failures. Called on the main thread; each call is short (metadata
// only). moveNoReplace() is FileMover's.
class ClipFiles : public FileMover {
public:
    // Direct entries of `folder`, hidden ones included, in the file system's order; absent when
    // the folder does not exist, is not a folder or cannot be read.
    virtual std::optional<std::vector<FolderEntry>> list(const std::string& folder) = 0;
    virtual bool exists(const std::string& path) = 0;
    // Puts `from` in place of `to` in one atomic step (same file system): `to` is either the old
    // file or the new one, never missing. On failure `to` is untouched.
    virtual FileOpResult replace(const std::string& from, const std::string& to) = 0;
    // Removes a file; errors are ignored (used for clean-up).
    virtual void removeQuietly(const std::string& path) = 0;
    // Creates a folder and its missing parents; errors are ignored.
    virtual void createFolders(const std::string& path) = 0;
};

// Moves files to the user's trash (freedesktop.org trash on Linux). A file that cannot be trashed
// stays where it is and the result says why, in words for the user.
class ClipTrash {
public:
    virtual ~ClipTrash() = default;
    virtual FileOpResult moveToTrash(const std::string& path) = 0;
};

// Shows files in the desktop's file manager. Never blocks the caller for long; failures are
// handled inside (e.g. by opening the folder instead).
class FileManagerActions {
public:
    virtual ~FileManagerActions() = default;
    virtual void revealFile(const std::string& path) = 0;
    virtual void openFolder(const std::string& path) = 0;
};

// Watches one folder's entries (files added, removed or renamed in it; not writes into files,
// not subfolders). `onEntryEvent` runs on the main thread once per event.
class FolderWatcher {
public:
    virtual ~FolderWatcher() = default;
    // Starts watching, replacing any earlier watch. False when the folder cannot be watched
    // (for instance it does not exist yet); then nothing is watched.
    virtual bool start(const std::string& folder, std::function<void()> onEntryEvent) = 0;
    virtual void stop() = 0;
};

}  // namespace corvane
