#pragma once

#include <functional>

#include <QMainWindow>

namespace corvane {

// The program's one main window. Closing only hides it (the object lives for the whole run, so
// its tabs keep their state); the owner hears about closing and (de)minimising through the hooks.
// Main thread.
class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    struct Hooks {
        std::function<void()> willClose;  // before the window hides
        std::function<void()> minimized;
        std::function<void()> restored;  // back from minimised
    };

    explicit MainWindow(Hooks hooks, QWidget* parent = nullptr);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    Hooks hooks_;
    bool wasMinimized_ = false;
};

}  // namespace corvane
