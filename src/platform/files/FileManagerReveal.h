#pragma once

#include <QObject>

#include <functional>
#include <string>

namespace corvane {

// Asks the desktop's file manager, over the session bus, to show a file selected in its folder
// (org.freedesktop.FileManager1.ShowItems). Asynchronous: `done(true)` when the file manager
// accepted the call, `done(false)` when there is no bus, no such service or it answered with an
// error. Main thread; `done` runs there.
class FileManagerReveal final : public QObject {
    Q_OBJECT
public:
    explicit FileManagerReveal(QObject* parent = nullptr) : QObject(parent) {}

    void showItem(const std::string& path, std::function<void(bool accepted)> done);

    // The file URI the call carries for a path: absolute, percent-encoded ("a b#1.mp4" gives
    // "file:///…/a%20b%231.mp4").
    static QString fileUri(const std::string& path);
};

}  // namespace corvane
