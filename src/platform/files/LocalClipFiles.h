#pragma once

#include "core/library/ClipFiles.h"

namespace corvane {

// ClipFiles on the local file system (POSIX). Stateless: any thread; each call is a few system
// calls. Also the program's one FileMover, which the exporter is handed.
class LocalClipFiles final : public ClipFiles {
public:
    std::optional<std::vector<FolderEntry>> list(const std::string& folder) override;
    bool exists(const std::string& path) override;
    // renameat2(RENAME_NOREPLACE); where the file system lacks it, a hard link (which also
    // refuses an existing name) and unlinking the old name; where hard links are missing too
    // (FAT, some FUSE mounts), a check and a plain rename. Only that last step leaves a window in
    // which another program's new file could be replaced.
    FileOpResult moveNoReplace(const std::string& from, const std::string& to) override;
    FileOpResult replace(const std::string& from, const std::string& to) override;
    void removeQuietly(const std::string& path) override;
    void createFolders(const std::string& path) override;
};

}  // namespace corvane
