#pragma once

#include "core/library/ClipFiles.h"

namespace corvane {

// ClipFiles on the local file system (POSIX). Any thread; each call is a few system calls.
class LocalClipFiles final : public ClipFiles {
public:
    std::optional<std::vector<FolderEntry>> list(const std::string& folder) override;
    bool exists(const std::string& path) override;
    FileOpResult moveNoReplace(const std::string& from, const std::string& to) override;
    FileOpResult replace(const std::string& from, const std::string& to) override;
    void removeQuietly(const std::string& path) override;
    void createFolders(const std::string& path) override;
};

}  // namespace corvane
