// The built program, run as a process with HOME pointed at a temporary folder.
#include <QDeadlineTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>

#include "support/TempDir.h"
#include "support/TextFiles.h"

namespace corvane {
namespace {

using test::TempDir;
using test::entriesIn;

const std::string kPreflight =
    "[Corvane] Screen capture is not available (cannot open the X display).\n"
    "Set DISPLAY or start Corvane inside a desktop session.\n";

using EnvChanges = std::map<std::string, std::optional<std::string>>;  // nullopt: unset

// A program run as a child process, its output collected. The session's display, bus and the
// back-end override are removed unless given, so the tests behave the same inside and outside a
// desktop session, and programs of tests running side by side never find each other running.
class Child {
public:
    explicit Child(const std::vector<std::string>& args, EnvChanges env = {}) {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "CORVANE_BACKEND"})
            env.emplace(name, std::nullopt);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : env) {
            if (value) environment.insert(QString::fromStdString(name), QString::fromStdString(*value));
            else environment.remove(QString::fromStdString(name));
        }
        process.setProcessEnvironment(environment);
        QStringList rest;
        for (size_t i = 1; i < args.size(); ++i) rest << QString::fromStdString(args[i]);
        process.setProgram(QString::fromStdString(args.at(0)));
        process.setArguments(rest);
    }
    ~Child() {
        process.kill();
        process.waitForFinished();
    }
    // Reads output until standard output (or error) holds `text`; false when the program ended or
    // 30 s passed first.
    bool waitFor(const std::string& text, bool onStdout = true) {
        QDeadlineTimer deadline(30000);
        for (read(); (onStdout ? out : err).find(text) == std::string::npos; read()) {
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning) return false;
            process.waitForReadyRead(100);
        }
        return true;
    }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }
    // Waits (30 s at most) for the end: the exit code, the negated signal number for a program a
    // signal ended, or nullopt when it did not end.
    std::optional<int> finish() {
        if (!process.waitForFinished(30000)) return std::nullopt;
        read();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -process.exitCode();
    }

    QProcess process;
    std::string out, err;

private:
    void read() {
        out += process.readAllStandardOutput().toStdString();
        err += process.readAllStandardError().toStdString();
    }
};

struct Outcome {
    std::string out, err;
    std::optional<int> code;  // as Child::finish()
};

Outcome runToEnd(std::vector<std::string> args, EnvChanges env) {
    args.insert(args.begin(), CORVANE_BINARY_PATH);
    Child child(args, std::move(env));
    child.process.start();
    const std::optional<int> code = child.finish();
    EXPECT_TRUE(code) << "did not exit";
    return {child.out, child.err, code};
}

// Starts the recorder, waits for its banner, ends it with `signal` and checks the clean exit.
Outcome startAndStop(std::vector<std::string> args, const TempDir& home, int signal = SIGTERM, EnvChanges env = {}) {
    args.insert(args.begin(), CORVANE_BINARY_PATH);
    env["HOME"] = home.path().string();
    Child child(args, std::move(env));
    child.process.start();
    EXPECT_TRUE(child.waitFor("Ready. Use your global shortcuts to save clips.\n"))
        << "no banner; stdout: " << child.out << "\nstderr: " << child.err;
    child.signal(signal);
    const std::optional<int> code = child.finish();
    EXPECT_EQ(code, 0) << "a clean end after the signal";
    return {child.out, child.err, code};
}

// Only the first argument counts. Without HOME the configuration path comes from the password
// database.
TEST(CommandLineForms, InformationFormsPrintAndTouchNoFile) {
    TempDir home;
    const EnvChanges env = {{"HOME", home.path().string()}};
    const std::string path = home.path().string() + "/.config/corvane/config.toml\n";
    const std::string help = runToEnd({"--help"}, env).out;
    EXPECT_NE(help.find("corvane --save SECONDS "), std::string::npos) << help;
    struct Case { std::vector<std::string> args; std::string out; };
    for (const Case& c : {Case{{"-h", "--version", "x"}, help}, Case{{"-v"}, "corvane 1.0.0\n"},
                          Case{{"--version", "-h"}, "corvane 1.0.0\n"}, Case{{"--config", "--help"}, path}}) {
        Outcome o = runToEnd(c.args, env);
        EXPECT_EQ(o.out, c.out) << c.args[0];
        EXPECT_EQ(o.err, "") << c.args[0];
        EXPECT_EQ(o.code, 0) << c.args[0];
    }
    EXPECT_EQ(entriesIn(home.path()), 0u) << "an information form created a file";

    passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    const std::string fromDatabase = std::string(entry->pw_dir) + "/.config/corvane/config.toml\n";
    EXPECT_EQ(runToEnd({"--config"}, {{"HOME", std::nullopt}}).out, fromDatabase);
    EXPECT_EQ(runToEnd({"--config"}, {{"HOME", ""}}).out, fromDatabase);
}

// The running-program side of "--save" is in tests/platform/instance/RunningProgramTest.cpp.
TEST(CommandLineSave, FailsWithTheReasonWhenTheLengthIsWrongOrNoCorvaneRuns) {
    TempDir home;
    const std::string usage =
        "corvane --save needs the clip length in seconds, a number greater than 0 (corvane --save 30)\n";
    for (auto args : {std::vector<std::string>{"--save"}, {"--save", "0"}, {"--save", "-3"},
                      {"--save", "abc"}, {"--save", "8s"}, {"--save", "nan"}, {"--save", "inf"},
                      {"--save", ""}, {"--save", "1e3"}}) {
        Outcome o = runToEnd(args, {{"HOME", home.path().string()}});
        EXPECT_EQ(o.err, usage) << args.back();
        EXPECT_EQ(o.out, "") << args.back();
        EXPECT_EQ(o.code, 1) << args.back();
    }

    // No session bus at all, then a bus on which no Corvane runs.
    Outcome noBus = runToEnd({"--save", "8"}, {{"HOME", home.path().string()}});
    EXPECT_TRUE(noBus.err.starts_with("Cannot reach a running Corvane: no session bus")) << noBus.err;
    EXPECT_EQ(noBus.code, 1);

    Child bus({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"});
    bus.process.start();
    ASSERT_TRUE(bus.waitFor("\n"));
    const std::string address = bus.out.substr(0, bus.out.find('\n'));
    Outcome nobody = runToEnd({"--save", "12.5"},
                              {{"HOME", home.path().string()}, {"DBUS_SESSION_BUS_ADDRESS", address}});
    EXPECT_EQ(nobody.err, "Corvane is not running in this session\n");
    EXPECT_EQ(nobody.out, "");
    EXPECT_EQ(nobody.code, 1);
    EXPECT_EQ(entriesIn(home.path()), 0u) << "asking for a clip creates no file";
}

// Other first arguments start the recorder; CORVANE_BACKEND picks the back ends, and a part that
// cannot connect says why in the line after the banner, which shows the clips folder with its
// tilde. SIGTERM and SIGINT end it cleanly.
TEST(CommandLineStart, StartsWithTheChosenBackEndsAndEndsCleanlyOnSignals) {
    const std::string noDisplay = "screen capture none (cannot open the X display), system audio none, "
                                  "global shortcuts none (cannot open the X display)";
    struct Case { std::vector<std::string> args; const char* backend; std::string backends, err; int signal = SIGTERM; };
    for (const Case& c : {
             Case{{"bogus", "--help"}, "mir", noDisplay, kPreflight, SIGINT},
             Case{{}, "x11", "screen capture X11, system audio PulseAudio, global shortcuts none "
                             "(cannot open the X display)", ""},
             Case{{}, "none", "screen capture none (CORVANE_BACKEND=none), system audio none, global "
                              "shortcuts none (CORVANE_BACKEND=none)",
                  "[Corvane] Screen capture is not available (CORVANE_BACKEND=none).\n"},
             Case{{}, "wayland", "screen capture ScreenCast portal, system audio PulseAudio, global "
                                 "shortcuts none (no session bus; bind keys to `corvane --save N` in the "
                                 "desktop's keyboard settings)", ""}}) {
        TempDir home;
        EnvChanges env{{"CORVANE_BACKEND", c.backend}};
        const std::string name = c.backend;
        // Two with a file of the user's: the buffer length is shown rounded half to even.
        const std::string buffer = name == "none" ? "60.5" : name == "wayland" ? "61.5" : "";
        if (!buffer.empty()) {
            test::writeTextFile(home / ".config/corvane/config.toml",
                                "max_buffer_seconds = " + buffer + "\n[[records]]\nduration = 5\nhotkey = \"Cmd+1\"\n");
        }
        Outcome o = startAndStop(c.args, home, c.signal, env);
        const size_t banner = o.out.find("Ready. Use your global shortcuts to save clips.\n");
        const size_t line = o.out.find("\n[Corvane] Back ends: " + c.backends + "\n");
        EXPECT_TRUE(line != std::string::npos && line > banner) << name << ": " << o.out;
        EXPECT_EQ(o.err.substr(0, c.err.size()), c.err) << name;
        const bool warned = o.out.find("[Corvane] Unknown CORVANE_BACKEND value 'mir' (x11, wayland or none); "
                                       "choosing by the session.\n") != std::string::npos;
        EXPECT_EQ(warned, name == "mir");
        EXPECT_TRUE(std::filesystem::is_regular_file(home / ".config/corvane/config.toml")) << name;
        const std::string shown = buffer.empty() ? "130" : buffer == "60.5" ? "60" : "62";
        EXPECT_NE(o.out.find("- Max Buffer  : " + shown + "s in RAM\n- Output Dir  : ~/Videos/Corvane\n"),
                  std::string::npos) << name << ": " << o.out;
    }
}

TEST(CommandLineStart, ClosedStandardOutputDoesNotKillTheProgram) {
    TempDir home;
    Child child({CORVANE_BINARY_PATH}, {{"HOME", home.path().string()}});
    child.process.setChildProcessModifier([] {  // standard output: a pipe nobody reads any more
        int ends[2];
        if (::pipe(ends) == 0) {
            ::dup2(ends[1], STDOUT_FILENO);
            ::close(ends[0]);
            ::close(ends[1]);
        }
    });
    child.process.start();
    // The preflight line comes after the signal handlers are in place; the banner write to the
    // closed pipe happens before the event loop can act on the signal.
    ASSERT_TRUE(child.waitFor("Set DISPLAY", false));
    child.signal(SIGTERM);
    EXPECT_EQ(child.finish(), 0) << "a negative number is the signal that ended it";
}

}  // namespace
}  // namespace corvane
