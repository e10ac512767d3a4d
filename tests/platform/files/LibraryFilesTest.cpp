#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "platform/files/FileManagerReveal.h"
#include "platform/files/FreedesktopTrash.h"
#include "platform/files/InotifyFolderWatcher.h"
#include "platform/files/LocalClipFiles.h"
#include "support/QtEventWait.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/TextFiles.h"

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

namespace fs = std::filesystem;

unsigned modeOf(const fs::path& p) {
    struct stat st{};
    return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A home with nothing in it (no ~/.local/share) and a working folder that must stay empty.
class TrashTest : public ::testing::Test {
protected:
    TrashTest() {
        fs::create_directories(dir_ / "home/clips");
        fs::create_directories(dir_ / "work");
        oldCwd_ = fs::current_path();
        fs::current_path(dir_ / "work");
    }
    ~TrashTest() override { fs::current_path(oldCwd_); }

    FileOpResult trash(const fs::path& p) { return FreedesktopTrash(files_).moveToTrash(p.string()); }

    test::TempDir dir_;
    test::ScopedEnv home_{"HOME", (dir_ / "home").string()};
    test::ScopedEnv dataHome_{"XDG_DATA_HOME", std::nullopt};
    fs::path oldCwd_;
    LocalClipFiles files_;
};

TEST_F(TrashTest, AnEmptyHomeGetsItsTrashMadeAndNothingLandsInTheWorkingFolder) {
    test::writeTextFile(dir_ / "home/clips/clip one%.mp4", "first");
    const FileOpResult r = trash(dir_ / "home/clips/clip one%.mp4");
    ASSERT_TRUE(r.ok()) << r.message;
    const fs::path bin = dir_ / "home/.local/share/Trash";
    EXPECT_EQ(test::readTextFile(bin / "files/clip one%.mp4"), "first");
    EXPECT_EQ(modeOf(bin / "files"), 0700u);
    EXPECT_EQ(modeOf(bin / "info"), 0700u);
    const std::string info = test::readTextFile(bin / "info/clip one%.mp4.trashinfo");
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + (dir_ / "home/clips").string() + "/clip%20one%25.mp4\nDeletionDate=", 0), 0u) << info;
    EXPECT_TRUE(fs::is_empty(dir_ / "work"));

    // The same name again keeps both; a missing file is an error, not a record.
    test::writeTextFile(dir_ / "home/clips/clip one%.mp4", "second");
    ASSERT_TRUE(trash(dir_ / "home/clips/clip one%.mp4").ok());
    EXPECT_EQ(test::readTextFile(bin / "files/clip one%.2.mp4"), "second");
    EXPECT_TRUE(fs::exists(bin / "info/clip one%.2.mp4.trashinfo"));
    const FileOpResult missing = trash(dir_ / "home/clips/nothing.mp4");
    EXPECT_EQ(missing.status, FileOpResult::Status::Failed);
    EXPECT_EQ(test::entriesIn(bin / "info"), 2u);
    // XDG_DATA_HOME moving the trash is seen in tests/ui/library/ClipLibraryEndToEndTest.cpp.
}

// A tmpfs stands for a second drive. Mounting needs root (or CAP_SYS_ADMIN); where the system
// refuses it the test says so and skips, because nothing else makes a second file system.
class OtherDriveTrashTest : public TrashTest {
protected:
    void SetUp() override {
        fs::create_directories(drive_);
        if (::mount("tmpfs", drive_.c_str(), "tmpfs", 0, "size=4m,mode=0755") != 0) {
            const int err = errno;
            if (err == EPERM || err == EACCES)
                GTEST_SKIP() << "mounting a tmpfs was refused (" << std::strerror(err) << "); run as root to test a second drive";
            FAIL() << "mount tmpfs: " << std::strerror(err);
        }
        mounted_ = true;
        fs::create_directories(drive_ / "clips");
    }
    void TearDown() override {
        if (mounted_) ::umount2(drive_.c_str(), MNT_DETACH);
    }

    const fs::path drive_ = dir_ / "drive";
    const std::string uid_ = std::to_string(::getuid());
    bool mounted_ = false;
};

TEST_F(OtherDriveTrashTest, GoesToTheDrivesOwnTrashAsTheRulesSay) {
    const struct {
        const char* name;
        std::function<void()> prepare;
        std::string trashRoot;  // under the drive
    } cases[] = {
        {"no .Trash", [] {}, ".Trash-" + uid_},
        {"sticky .Trash", [&] { fs::create_directory(drive_ / ".Trash"); ::chmod((drive_ / ".Trash").c_str(), 01777); },
         ".Trash/" + uid_},
        {".Trash without the sticky bit", [&] { ::chmod((drive_ / ".Trash").c_str(), 0777); }, ".Trash-" + uid_},
        {".Trash as a link to a sticky folder", [&] {
             fs::rename(drive_ / ".Trash", drive_ / "shared");
             ::chmod((drive_ / "shared").c_str(), 01777);
             fs::create_directory_symlink(drive_ / "shared", drive_ / ".Trash");
         }, ".Trash-" + uid_},
    };
    int n = 0;
    for (const auto& c : cases) {
        c.prepare();
        const std::string name = "clip" + std::to_string(++n) + ".mp4";
        test::writeTextFile(drive_ / "clips" / name, c.name);
        const FileOpResult r = trash(drive_ / "clips" / name);
        ASSERT_TRUE(r.ok()) << c.name << ": " << r.message;
        const fs::path root = drive_ / c.trashRoot;
        EXPECT_EQ(test::readTextFile(root / "files" / name), c.name);
        EXPECT_EQ(modeOf(root / "files"), 0700u) << c.name;
        // Paths in a drive's trash are relative to the drive's top folder.
        EXPECT_EQ(test::readTextFile(root / "info" / (name + ".trashinfo")).rfind("[Trash Info]\nPath=clips/" + name + "\n", 0), 0u)
            << c.name;
    }
    EXPECT_FALSE(fs::exists(dir_ / "home/.local/share/Trash/files"));
}

TEST_F(OtherDriveTrashTest, ADriveWithoutAUsableTrashKeepsTheClipAndSaysWhy) {
    test::writeTextFile(drive_ / "clips/keep.mp4", "keep");
    ASSERT_EQ(::mount("tmpfs", drive_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
    const FileOpResult r = trash(drive_ / "clips/keep.mp4");
    EXPECT_EQ(r.status, FileOpResult::Status::Failed);
    EXPECT_NE(r.message.find("has no trash folder Corvane may use"), std::string::npos) << r.message;
    EXPECT_EQ(test::readTextFile(drive_ / "clips/keep.mp4"), "keep");
    EXPECT_FALSE(fs::exists(dir_ / "home/.local/share/Trash/info"));
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
