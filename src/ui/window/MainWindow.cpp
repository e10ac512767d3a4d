#include "ui/window/MainWindow.h"

#include <QCloseEvent>
#include <QEvent>

namespace corvane {

MainWindow::MainWindow(Hooks hooks, QWidget* parent) : QMainWindow(parent), hooks_(std::move(hooks)) {
    // Hidden, never destroyed: the manager shows the same window again.
    setAttribute(Qt::WA_DeleteOnClose, false);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (hooks_.willClose) hooks_.willClose();
    event->accept();  // a non-deleting window is only hidden
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    const bool minimized = isMinimized();
    if (minimized == wasMinimized_) return;
    wasMinimized_ = minimized;
    if (minimized) {
        if (hooks_.minimized) hooks_.minimized();
    } else if (hooks_.restored) {
        hooks_.restored();
    }
}

}  // namespace corvane
