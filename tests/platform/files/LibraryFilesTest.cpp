#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "core/library/LocalClipFiles.h"
#include "platform/files/FileManagerReveal.h"
#include "platform/files/FreedesktopTrash.h"
#include "platform/files/InotifyFolderWatcher.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

// Runs the event loop until `done` holds or a generous limit passes (the limit only stops a
// broken test from hanging; nothing is judged by time).
template <typename Pred>
void pumpUntil(Pred done, int limitMs = 5000) {
    QDeadlineTimer deadline(limitMs);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}
void pumpFor(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(InotifyFolderWatcher, EntryChangesAreReportedButWritesAreNot) {
    test::TempDir dir;
    std::ofstream(dir / "growing.mp4") << "start";
    InotifyFolderWatcher watcher;
    int events = 0;
    ASSERT_TRUE(watcher.start(dir.path().string(), [&] { ++events; }));

    std::ofstream(dir / "new.mp4") << "x";
    pumpUntil([&] { return events >= 1; });
    EXPECT_EQ(events, 1);

    std::filesystem::rename(dir / "new.mp4", dir / "renamed.mp4");  // out of one name, into another
    pumpUntil([&] { return events >= 3; });
    EXPECT_EQ(events, 3);

    std::filesystem::remove(dir / "renamed.mp4");
    pumpUntil([&] { return events >= 4; });
    EXPECT_EQ(events, 4);

    // A clip being written: 32 MB in 64 KB writes, flushed each time. No event at all.
    {
        std::ofstream big(dir / "growing.mp4", std::ios::app | std::ios::binary);
        const std::string chunk(64 * 1024, 'v');
        for (int i = 0; i < 512; ++i) {
            big << chunk;
            big.flush();
        }
    }
    pumpFor(200);
    EXPECT_EQ(events, 4);

    // Subfolder contents are not the folder's entries.
    std::filesystem::create_directory(dir / "sub");
    pumpUntil([&] { return events >= 5; });
    std::ofstream(dir / "sub" / "inner.mp4") << "x";
    pumpFor(100);
    EXPECT_EQ(events, 5);

    watcher.stop();
    std::ofstream(dir / "after-stop.mp4") << "x";
    pumpFor(100);
    EXPECT_EQ(events, 5);
}

TEST(InotifyFolderWatcher, MissingFolderCannotBeWatched) {
    test::TempDir dir;
    InotifyFolderWatcher watcher;
    EXPECT_FALSE(watcher.start((dir / "absent").string(), [] {}));
    std::ofstream(dir / "file") << "x";
    EXPECT_FALSE(watcher.start((dir / "file").string(), [] {}));  // not a folder
}

TEST(LocalClipFiles, MovesNeverReplaceAndReplaceIsAtomic) {
    test::TempDir dir;
    LocalClipFiles files;
    std::ofstream(dir / "a") << "A";
    std::ofstream(dir / "b") << "B";
    const FileOpResult clash = files.moveNoReplace((dir / "a").string(), (dir / "b").string());
    EXPECT_EQ(clash.status, FileOpResult::Status::Exists);
    EXPECT_TRUE(std::filesystem::exists(dir / "a"));
    EXPECT_TRUE(files.moveNoReplace((dir / "a").string(), (dir / "c").string()).ok());
    EXPECT_TRUE(files.replace((dir / "c").string(), (dir / "b").string()).ok());
    std::ifstream in(dir / "b");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "A");
    EXPECT_EQ(files.replace((dir / "gone").string(), (dir / "b").string()).status, FileOpResult::Status::Failed);
    EXPECT_TRUE(std::filesystem::exists(dir / "b"));
}

TEST(FreedesktopTrash, MovesIntoTheHomeTrashWithARestoreRecord) {
    test::TempDir dir;
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((dir / "data").string()));
    std::filesystem::create_directories(dir / "data");
    std::ofstream(dir / "clip one.mp4") << "bytes";
    const FileOpResult r = FreedesktopTrash().moveToTrash((dir / "clip one.mp4").string());
    if (oldData.isNull()) qunsetenv("XDG_DATA_HOME"); else qputenv("XDG_DATA_HOME", oldData);
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
    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.freedesktop.FileManager1\"><method name=\"ShowItems\">"
            "<arg type=\"as\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/></method></interface>");
    }
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
    pumpUntil([&] { return answers == 1; });
    EXPECT_EQ(answers, 1);
    EXPECT_FALSE(accepted);  // nobody owns the name: the caller falls back to opening the folder

    QDBusConnection service = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-file-manager");
    FakeFileManager fake;
    ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/FileManager1", &fake));
    ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));
    reveal.showItem("/tmp/my clips/50% #1 <b>é</b>.mp4", [&](bool ok) { accepted = ok; ++answers; });
    pumpUntil([&] { return answers == 2; });
    EXPECT_TRUE(accepted);
    ASSERT_EQ(fake.uris.size(), 1);
    EXPECT_EQ(fake.uris[0], "file:///tmp/my%20clips/50%25%20%231%20%3Cb%3E%C3%A9%3C/b%3E.mp4");
    service.unregisterService("org.freedesktop.FileManager1");
    service.unregisterObject("/org/freedesktop/FileManager1");
    QDBusConnection::disconnectFromBus("fake-file-manager");
}

}  // namespace
}  // namespace corvane
