// The clip library with the real parts the program hands it: inotify, FFmpeg probe and trimmer,
// Qt Multimedia preview, the freedesktop trash and the Qt main-loop scheduler.
#include "ui/library/ClipLibrary.h"

#include <QLabel>
#include <QMediaPlayer>
#include <QToolButton>
#include <QVideoWidget>

#include <fstream>

#include <gtest/gtest.h>

#include "media/probe/FfmpegClipProber.h"
#include "media/trim/FfmpegClipTrimmer.h"
#include "platform/files/FreedesktopTrash.h"
#include "platform/files/InotifyFolderWatcher.h"
#include "platform/files/LocalClipFiles.h"
#include "platform/sched/QtMainScheduler.h"
#include "support/LibraryRig.h"
#include "support/QtEventWait.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/TestClip.h"
#include "ui/library/ClipListModel.h"
#include "ui/library/ClipsView.h"
#include "ui/library/PosterView.h"
#include "ui/library/QtPreviewPlayer.h"

namespace corvane {
namespace {

using test::waitUntil;

// A number of /proc/self/status ("Threads").
long statusField(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
    return -1;
}
// The first playback builds the GStreamer registry; the limit only keeps a broken test from hanging.
constexpr int kPlaybackLimitMs = 20000;

// The library with the parts the program plugs in (a file manager would open windows on the
// test display: that one is faked).
struct RealLibrary {
    explicit RealLibrary(ClipSavedAnnouncer* announcer = nullptr)
        : library(scheduler, {files, trash, fileManager, watcher, prober, trimmer}, announcer, nullptr) {}
    QtMainScheduler scheduler;
    LocalClipFiles files;
    FreedesktopTrash trash{files};
    test::FakeFileManager fileManager;
    InotifyFolderWatcher watcher;
    FfmpegClipProber prober;
    FfmpegClipTrimmer trimmer;
    ClipLibrary library;
};

TEST(ClipLibraryEndToEnd, SavedClipAppearsPlaysTrimsAndGoesToTheTrash) {
    test::TempDir home;
    test::ScopedEnv dataHome("XDG_DATA_HOME", (home / "data").string());
    std::filesystem::create_directories(home / "clips");
    ClipSavedAnnouncer announcer;
    RealLibrary real(&announcer);
    ClipLibrary& library = real.library;
    ClipsView* view = library.createView(nullptr);
    view->resize(960, 620);
    view->show();
    library.setOutputDir((home / "clips").string());
    ClipsViewModel& model = library.model();
    EXPECT_TRUE(model.isWatching());

    const std::string path = (home / "clips" / "Clip_2026-01-01_10-00-00_2s.mp4").string();
    ASSERT_EQ(test::writeTestClip(path, {.frames = 60}), "");
    announcer.announce(path);
    ASSERT_TRUE(waitUntil([&] { return model.clips().size() == 1 && model.clips()[0].durationSeconds > 0; }, kPlaybackLimitMs));
    EXPECT_NEAR(model.clips()[0].durationSeconds, 2.0, 0.05);
    EXPECT_FALSE(library.listModel().data(library.listModel().index(0), ClipListModel::ThumbnailRole).value<QPixmap>().isNull());

    // The new clip is shown as a still picture: no media pipeline and no video output (which brings
    // up the graphics stack) until the user plays it.
    ASSERT_TRUE(waitUntil([&] { return !view->posterView()->picture().isNull(); }, kPlaybackLimitMs));
    EXPECT_EQ(view->posterView()->picture().size(), QSize(320, 240));
    EXPECT_EQ(view->positionLabel()->text(), "0:00 / 0:02");
    EXPECT_FALSE(library.hasPreviewEngine());
    EXPECT_TRUE(view->findChildren<QVideoWidget*>().isEmpty());
    view->playPauseButton()->click();
    auto* preview = dynamic_cast<QtPreviewPlayer*>(model.player());
    ASSERT_TRUE(preview);
    EXPECT_TRUE(waitUntil([&] { return preview->mediaPlayer().position() > 300; }, kPlaybackLimitMs));
    library.windowWillClose();  // the main window closes: the preview pauses
    EXPECT_NE(preview->mediaPlayer().playbackState(), QMediaPlayer::PlayingState);

    std::optional<std::string> trimmed;
    model.trimClip(model.clips()[0], 0.5, 1.5, true, [&](std::optional<std::string> p, ClipError e) {
        trimmed = p ? *p : "error: " + e.message;
    });
    ASSERT_TRUE(waitUntil([&] { return trimmed.has_value(); }, kPlaybackLimitMs));
    EXPECT_EQ(*trimmed, (home / "clips" / "Clip_2026-01-01_10-00-00_2s_trimmed.mp4").string());
    const test::DecodedClip cut = test::decodeClip(*trimmed);
    ASSERT_FALSE(cut.frameIndices.empty());
    EXPECT_EQ(cut.frameIndices.front(), 15);

    ASSERT_EQ(model.selectedClip()->path, *trimmed);
    ASSERT_TRUE(model.deleteClip(*model.selectedClip()).ok());
    EXPECT_FALSE(std::filesystem::exists(*trimmed));
    EXPECT_TRUE(std::filesystem::exists(home / "data/Trash/files/Clip_2026-01-01_10-00-00_2s_trimmed.mp4"));
    EXPECT_EQ(model.clips().size(), 1u);
    EXPECT_EQ(model.selectedClip()->path, path);  // the original was left alone throughout
}

// Every save selects the new clip. Each selection used to build a new media player whose threads
// and buffers stayed behind; the preview now reuses one.
TEST(ClipLibraryEndToEnd, SelectingClipsOneAfterAnotherKeepsThreadsFlat) {
    test::TempDir home;
    const std::filesystem::path clips = home / "clips";
    std::filesystem::create_directories(clips);
    constexpr int kClips = 20;
    for (int i = 0; i < kClips; ++i)
        ASSERT_EQ(test::writeTestClip((clips / ("c" + std::to_string(i) + ".mp4")).string(), {.frames = 15}), "");
    RealLibrary real;
    ClipLibrary& library = real.library;
    ClipsView* view = library.createView(nullptr);
    view->show();
    library.setOutputDir(clips.string());
    ClipsViewModel& model = library.model();
    ASSERT_EQ(model.clips().size(), static_cast<size_t>(kClips));
    model.seek(0);  // the preview's pipeline is built: from now on each selection gets a player
    long threadsAfterTwo = 0;
    for (int i = 0; i < kClips; ++i) {
        model.selectClip(model.clips()[static_cast<size_t>(i)]);
        auto* preview = dynamic_cast<QtPreviewPlayer*>(model.player());
        ASSERT_TRUE(preview);
        ASSERT_TRUE(waitUntil([&] { return preview->mediaPlayer().duration() > 0; }, kPlaybackLimitMs)) << i;
        if (i == 1) threadsAfterTwo = statusField("Threads");
    }
    EXPECT_LE(statusField("Threads"), threadsAfterTwo + 2) << "players pile up";
    delete view;
}

}  // namespace
}  // namespace corvane
