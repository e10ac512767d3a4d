#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace corvane::test {

// The built program run as a child process with its own environment and captured output.
// DISPLAY, WAYLAND_DISPLAY, the session bus and the back-end override are removed unless given, so the tests behave the same
// inside and outside a desktop session, and programs started by tests running side by side do not
// find each other as an already running instance.
class ChildProcess {
public:
    using EnvChanges = std::map<std::string, std::optional<std::string>>;  // nullopt: unset

    ChildProcess(const std::vector<std::string>& args, EnvChanges env, bool closeStdout = false) {
        env.emplace("DISPLAY", std::nullopt);
        env.emplace("WAYLAND_DISPLAY", std::nullopt);
        env.emplace("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
        env.emplace("CORVANE_BACKEND", std::nullopt);
        std::vector<std::string> envStrings;
        for (char** e = environ; *e != nullptr; ++e) {
            std::string entry = *e;
            if (!env.count(entry.substr(0, entry.find('=')))) envStrings.push_back(entry);
        }
        for (const auto& [key, value] : env) {
            if (value) envStrings.push_back(key + "=" + *value);
        }
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            std::vector<char*> argv, envp;
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            for (const auto& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
            envp.push_back(nullptr);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        outFd_ = out[0];
        errFd_ = err[0];
        if (closeStdout) {
            ::close(outFd_);
            outFd_ = -1;
        }
    }

    ~ChildProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (outFd_ >= 0) ::close(outFd_);
        if (errFd_ >= 0) ::close(errFd_);
    }

    bool started() const { return pid_ > 0; }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

    // Reads output until `stream` contains `text`; false if the process ends or `limit` passes.
    bool waitFor(const std::string& stream, std::string_view text,
                 std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (stream.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            if (!pump(100)) return stream.find(text) != std::string::npos;
        }
        return true;
    }

    void sendSignal(int signal) { ::kill(pid_, signal); }

    // Waits for the end of the process, reading all output. Returns the raw wait status, or
    // nullopt when it did not end within `limit` (it is then killed).
    std::optional<int> finish(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (pump(50)) {
            if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
        }
        while (true) {
            int status = 0;
            pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                return status;
            }
            if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
            ::usleep(10000);
        }
    }

private:
    // Reads what is available; false once both pipes are closed.
    bool pump(int timeoutMs) {
        std::vector<pollfd> fds;
        if (outFd_ >= 0) fds.push_back({outFd_, POLLIN, 0});
        if (errFd_ >= 0) fds.push_back({errFd_, POLLIN, 0});
        if (fds.empty()) return false;  // only the exit is left to wait for
        if (::poll(fds.data(), fds.size(), timeoutMs) <= 0) return true;
        for (const pollfd& p : fds) {
            if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            ssize_t n = ::read(p.fd, buffer, sizeof buffer);
            int& fd = p.fd == outFd_ ? outFd_ : errFd_;
            std::string& sink = p.fd == outFd_ ? out_ : err_;
            if (n > 0) {
                sink.append(buffer, static_cast<size_t>(n));
            } else {
                ::close(fd);
                fd = -1;
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    bool exited_ = false;
    std::string out_;
    std::string err_;
};

}  // namespace corvane::test
