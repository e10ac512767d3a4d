// The built program, run as a process with HOME pointed at a temporary folder.
#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/TextFiles.h"

namespace corvane {
namespace {

using test::ChildProcess;
using test::TempDir;
using test::entriesIn;

const std::string kPreflight =
    "[Corvane] Screen capture is not available (cannot open the X display).\n"
    "Set DISPLAY or start Corvane inside a desktop session.\n";

struct Outcome {
    std::string out, err;
    int status = -1;
};

Outcome runToEnd(std::vector<std::string> args, ChildProcess::EnvChanges env) {
    args.insert(args.begin(), CORVANE_BINARY_PATH);
    ChildProcess child(args, std::move(env));
    EXPECT_TRUE(child.started());
    auto status = child.finish();
    EXPECT_TRUE(status) << "did not exit";
    return {child.out(), child.err(), status.value_or(-1)};
}

bool exitedWithZero(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

// Starts the recorder, waits for its banner, ends it with `signal` and checks the clean exit.
Outcome startAndStop(std::vector<std::string> args, const TempDir& home, int signal = SIGTERM,
                     ChildProcess::EnvChanges env = {}) {
    args.insert(args.begin(), CORVANE_BINARY_PATH);
    env["HOME"] = home.path().string();
    ChildProcess child(args, std::move(env));
    EXPECT_TRUE(child.waitFor(child.out(), "Ready. Use your global shortcuts to save clips.\n"))
        << "no banner; stdout: " << child.out() << "\nstderr: " << child.err();
    child.sendSignal(signal);
    auto status = child.finish();
    EXPECT_TRUE(status) << "did not end after the signal";
    EXPECT_TRUE(status && exitedWithZero(*status)) << "wait status " << status.value_or(-1);
    return {child.out(), child.err(), status.value_or(-1)};
}

// Only the first argument counts.
TEST(CommandLineForms, InformationFormsPrintAndTouchNoFile) {
    TempDir home;
    const ChildProcess::EnvChanges env = {{"HOME", home.path().string()}};
    const std::string path = home.path().string() + "/.config/corvane/config.toml\n";
    const std::string help = runToEnd({"--help"}, env).out;
    EXPECT_NE(help.find("corvane --save SECONDS "), std::string::npos) << help;
    struct Case { std::vector<std::string> args; std::string out; };
    for (const Case& c : {Case{{"-h", "--version", "x"}, help}, Case{{"-v"}, "corvane 1.0.0\n"},
                          Case{{"--version", "-h"}, "corvane 1.0.0\n"}, Case{{"--config", "--help"}, path}}) {
        Outcome o = runToEnd(c.args, env);
        EXPECT_EQ(o.out, c.out) << c.args[0];
        EXPECT_EQ(o.err, "") << c.args[0];
        EXPECT_TRUE(exitedWithZero(o.status)) << c.args[0];
    }
    EXPECT_EQ(entriesIn(home.path()), 0u) << "an information form created a file";
}

TEST(CommandLineForms, ConfigPathWithoutHomeComesFromThePasswordDatabase) {
    passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    const std::string expected = std::string(entry->pw_dir) + "/.config/corvane/config.toml\n";
    EXPECT_EQ(runToEnd({"--config"}, {{"HOME", std::nullopt}}).out, expected);
    EXPECT_EQ(runToEnd({"--config"}, {{"HOME", ""}}).out, expected);
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
        EXPECT_TRUE(WIFEXITED(o.status) && WEXITSTATUS(o.status) == 1) << args.back();
    }

    // No session bus at all, then a bus on which no Corvane runs.
    Outcome noBus = runToEnd({"--save", "8"}, {{"HOME", home.path().string()}});
    EXPECT_TRUE(noBus.err.starts_with("Cannot reach a running Corvane: no session bus")) << noBus.err;
    EXPECT_TRUE(WIFEXITED(noBus.status) && WEXITSTATUS(noBus.status) == 1);

    ChildProcess bus({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"}, {});
    ASSERT_TRUE(bus.waitFor(bus.out(), "\n"));
    const std::string address = bus.out().substr(0, bus.out().find('\n'));
    Outcome nobody = runToEnd({"--save", "12.5"},
                              {{"HOME", home.path().string()}, {"DBUS_SESSION_BUS_ADDRESS", address}});
    EXPECT_EQ(nobody.err, "Corvane is not running in this session\n");
    EXPECT_EQ(nobody.out, "");
    EXPECT_TRUE(WIFEXITED(nobody.status) && WEXITSTATUS(nobody.status) == 1);
    EXPECT_EQ(entriesIn(home.path()), 0u) << "asking for a clip creates no file";
}

// Other first arguments start the recorder; CORVANE_BACKEND picks the back ends, and a part that
// cannot connect says why in the line after the banner. SIGTERM and SIGINT end it cleanly.
TEST(CommandLineStart, StartsWithTheChosenBackEndsAndEndsCleanlyOnSignals) {
    const std::string noDisplay = "screen capture none (cannot open the X display), system audio none, "
                                  "global shortcuts none (cannot open the X display)";
    struct Case { std::vector<std::string> args; const char* backend; std::string backends, err; int signal = SIGTERM; };
    for (const Case& c : {
             Case{{"bogus", "--help"}, nullptr, noDisplay, kPreflight, SIGINT},
             Case{{}, "x11", "screen capture X11, system audio PulseAudio, global shortcuts none "
                             "(cannot open the X display)", ""},
             Case{{}, "none", "screen capture none (CORVANE_BACKEND=none), system audio none, global "
                              "shortcuts none (CORVANE_BACKEND=none)",
                  "[Corvane] Screen capture is not available (CORVANE_BACKEND=none).\n"},
             Case{{}, "wayland", "screen capture ScreenCast portal, system audio PulseAudio, global "
                                 "shortcuts none (no session bus; bind keys to `corvane --save N` in the "
                                 "desktop's keyboard settings)", ""},
             Case{{"--Help"}, "mir", noDisplay, kPreflight}}) {
        TempDir home;
        ChildProcess::EnvChanges env;
        if (c.backend) env["CORVANE_BACKEND"] = c.backend;
        Outcome o = startAndStop(c.args, home, c.signal, env);
        const std::string name = c.backend ? c.backend : "default";
        const size_t banner = o.out.find("Ready. Use your global shortcuts to save clips.\n");
        const size_t line = o.out.find("\n[Corvane] Back ends: " + c.backends + "\n");
        EXPECT_TRUE(line != std::string::npos && line > banner) << name << ": " << o.out;
        EXPECT_EQ(o.err.substr(0, c.err.size()), c.err) << name;
        const bool warned = o.out.find("[Corvane] Unknown CORVANE_BACKEND value 'mir' (x11, wayland or none); "
                                       "choosing by the session.\n") != std::string::npos;
        EXPECT_EQ(warned, name == "mir");
        EXPECT_TRUE(std::filesystem::is_regular_file(home / ".config/corvane/config.toml")) << name;
    }
}

// The buffer length is shown rounded half to even, the folder with its tilde.
TEST(CommandLineStart, BannerRoundsHalfToEvenAndKeepsTheTilde) {
    for (const auto& [buffer, shown] : {std::pair{"60.5", "60"}, {"61.5", "62"}}) {
        TempDir home;
        std::filesystem::create_directories(home / ".config/corvane");
        std::ofstream(home / ".config/corvane/config.toml")
            << "max_buffer_seconds = " << buffer << "\n[[records]]\nduration = 5\nhotkey = \"Cmd+1\"\n";
        Outcome o = startAndStop({}, home);
        EXPECT_NE(o.out.find("- Max Buffer  : " + std::string(shown) + "s in RAM\n- Output Dir  : ~/Videos/Corvane\n"),
                  std::string::npos) << o.out;
    }
}

TEST(CommandLineStart, ClosedStandardOutputDoesNotKillTheProgram) {
    TempDir home;
    ChildProcess child({CORVANE_BINARY_PATH}, {{"HOME", home.path().string()}}, /*closeStdout=*/true);
    // The preflight line comes after the signal handlers are in place; the banner write to the
    // closed pipe happens before the event loop can act on the signal.
    ASSERT_TRUE(child.waitFor(child.err(), "Set DISPLAY"));
    child.sendSignal(SIGTERM);
    auto status = child.finish();
    ASSERT_TRUE(status);
    EXPECT_TRUE(exitedWithZero(*status)) << "killed by signal "
                                         << (WIFSIGNALED(*status) ? WTERMSIG(*status) : 0);
}

}  // namespace
}  // namespace corvane
