#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <filesystem>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "core/library/LocalClipFiles.h"
#include "platform/files/FileManagerReveal.h"
#include "platform/files/FreedesktopTrash.h"
#include "platform/files/InotifyFolderWatcher.h"
#include "support/LibraryQtHelpers.h"
#include "support/QtEventWait.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

using test::serveEvents;
using test::waitUntil;

TEST(InotifyFolderWatcher, EntryChangesAreReportedButWritesAndSubfoldersAreNot) {
    test::TempDir dir;
    InotifyFolderWatcher watcher;
    EXPECT_FALSE(watcher.start((dir / "absent").string(), [] {}));
    std::ofstream(dir / "growing.mp4") << "start";
    EXPECT_FALSE(watcher.start((dir / "growing.mp4").string(), [] {}));  // not a folder
    int events = 0;
    ASSERT_TRUE(watcher.start(dir.path().string(), [&] { ++events; }));

    const std::pair<std::function<void()>, int> steps[] = {
        {[&] { std::ofstream(dir / "new.mp4") << "x"; }, 1},
        {[&] { std::filesystem::rename(dir / "new.mp4", dir / "renamed.mp4"); }, 3},  // out of one name, into another
        {[&] { std::filesystem::remove(dir / "renamed.mp4"); }, 4},
        {[&] {  // a clip being written: 32 MB in 64 KB writes, flushed each time
             std::ofstream big(dir / "growing.mp4", std::ios::app | std::ios::binary);
             for (int i = 0; i < 512; ++i) big << std::string(64 * 1024, 'v') << std::flush;
         }, 4},
        {[&] { std::filesystem::create_directory(dir / "sub"); }, 5},
        {[&] { std::ofstream(dir / "sub" / "inner.mp4") << "x"; }, 5},
        {[&] { watcher.stop(); std::ofstream(dir / "after-stop.mp4") << "x"; }, 5},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        steps[i].first();
        waitUntil([&] { return events >= steps[i].second; });
        serveEvents(100);
        EXPECT_EQ(events, steps[i].second) << "step " << i;
    }
}

TEST(LocalClipFiles, MovesNeverReplaceAndReplaceIsAtomic) {
    test::TempDir dir;
    LocalClipFiles files;
    std::ofstream(dir / "a") << "A";
    std::ofstream(dir / "b") << "B";
    EXPECT_EQ(files.moveNoReplace((dir / "a").string(), (dir / "b").string()).status, FileOpResult::Status::Exists);
    EXPECT_TRUE(std::filesystem::exists(dir / "a"));
    EXPECT_TRUE(files.moveNoReplace((dir / "a").string(), (dir / "c").string()).ok());
    EXPECT_TRUE(files.replace((dir / "c").string(), (dir / "b").string()).ok());
    EXPECT_EQ(std::ifstream(dir / "b").get(), 'A');
    EXPECT_EQ(files.replace((dir / "gone").string(), (dir / "b").string()).status, FileOpResult::Status::Failed);
    EXPECT_TRUE(std::filesystem::exists(dir / "b"));
}

TEST(FreedesktopTrash, MovesIntoTheHomeTrashWithARestoreRecord) {
    test::TempDir dir;
    test::ScopedDataHome home((dir / "data").string());
    std::ofstream(dir / "clip one.mp4") << "bytes";
    const FileOpResult r = FreedesktopTrash().moveToTrash((dir / "clip one.mp4").string());
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_FALSE(std::filesystem::exists(dir / "clip one.mp4"));
    EXPECT_TRUE(std::filesystem::exists(dir / "data/Trash/files/clip one.mp4"));
    EXPECT_TRUE(std::filesystem::exists(dir / "data/Trash/info/clip one.mp4.trashinfo"));

    const FileOpResult missing = FreedesktopTrash().moveToTrash((dir / "nothing.mp4").string());
    EXPECT_FALSE(missing.ok());
    EXPECT_FALSE(missing.message.empty());
}

// Stands in for a file manager on the session bus and records what it was asked to show.
class FakeFileManager final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("ShowItems")) return false;
        uris = message.arguments().value(0).toStringList();
        connection.send(message.createReply());
        return true;
    }
    QStringList uris;
};

TEST(FileManagerReveal, SendsAnEncodedFileUriOrReportsNoFileManager) {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "needs the test session's bus";
    FileManagerReveal reveal;
    int answers = 0;
    bool accepted = true;
    reveal.showItem("/tmp/x.mp4", [&](bool ok) { accepted = ok; ++answers; });
    waitUntil([&] { return answers == 1; });
    EXPECT_FALSE(accepted);  // nobody owns the name: the caller falls back to opening the folder

    QDBusConnection service = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-file-manager");
    FakeFileManager fake;
    ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/FileManager1", &fake));
    ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));
    reveal.showItem("/tmp/my clips/50% #1 <b>é</b>.mp4", [&](bool ok) { accepted = ok; ++answers; });
    waitUntil([&] { return answers == 2; });
    EXPECT_TRUE(accepted);
    ASSERT_EQ(fake.uris.size(), 1);
    EXPECT_EQ(fake.uris[0], "file:///tmp/my%20clips/50%25%20%231%20%3Cb%3E%C3%A9%3C/b%3E.mp4");
    service.unregisterService("org.freedesktop.FileManager1");
    service.unregisterObject("/org/freedesktop/FileManager1");
    QDBusConnection::disconnectFromBus("fake-file-manager");
}

}  // namespace
}  // namespace corvane
