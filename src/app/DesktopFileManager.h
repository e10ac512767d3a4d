#pragma once

#include "core/library/ClipFiles.h"
#include "platform/files/FileManagerReveal.h"

namespace corvane {

// Shows clips in the desktop's file manager: the file selected through the FileManager1 D-Bus
// service (platform), or, without one, its folder opened through the desktop's URL handler (Qt
// GUI, which is why the two meet here). Never runs a shell. Main thread.
class DesktopFileManager final : public FileManagerActions {
public:
    void revealFile(const std::string& path) override;
    void openFolder(const std::string& path) override;

private:
    FileManagerReveal reveal_;
};

}  // namespace corvane
