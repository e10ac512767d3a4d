#pragma once

#include "app/DesktopFileManager.h"
#include "media/probe/FfmpegClipProber.h"
#include "media/trim/FfmpegClipTrimmer.h"
#include "platform/files/FreedesktopTrash.h"
#include "platform/files/InotifyFolderWatcher.h"
#include "platform/files/LocalClipFiles.h"
#include "ui/library/ClipLibrary.h"
#include "ui/library/ClipListModel.h"

namespace corvane {

// The clip library's real parts: the local file system, the freedesktop trash, the desktop's
// file manager, the inotify folder watch, the FFmpeg probe and trimmer. Main thread; must
// outlive the ClipLibrary they are handed to. `files` is shared with the exporter.
struct LibraryBackends {
    explicit LibraryBackends(LocalClipFiles& sharedFiles)
        : files(sharedFiles),
          trash(sharedFiles),
          prober(ClipListModel::thumbnailPixels().width(), ClipListModel::thumbnailPixels().height()) {}

    ClipLibraryParts parts() { return {files, trash, fileManager, watcher, prober, trimmer}; }

    LocalClipFiles& files;
    FreedesktopTrash trash;
    DesktopFileManager fileManager;
    InotifyFolderWatcher watcher;
    FfmpegClipProber prober;
    FfmpegClipTrimmer trimmer;
};

}  // namespace corvane
