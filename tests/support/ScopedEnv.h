#pragma once

#include <QByteArray>

#include <filesystem>
#include <string>

// Environment helpers for the library's tests against real back ends. Main thread only.
namespace corvane::test {

// Points XDG_DATA_HOME (and so the trash) at a fresh folder for the object's lifetime.
class ScopedDataHome {
public:
    explicit ScopedDataHome(const std::string& path) : old_(qgetenv("XDG_DATA_HOME")) {
        std::filesystem::create_directories(path);
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(path));
    }
    ~ScopedDataHome() {
        if (old_.isNull()) qunsetenv("XDG_DATA_HOME");
        else qputenv("XDG_DATA_HOME", old_);
    }
    ScopedDataHome(const ScopedDataHome&) = delete;
    ScopedDataHome& operator=(const ScopedDataHome&) = delete;

private:
    QByteArray old_;
};

}  // namespace corvane::test
