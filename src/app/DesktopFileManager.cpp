#include "app/DesktopFileManager.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

#include "core/log/Log.h"

namespace corvane {

void DesktopFileManager::revealFile(const std::string& path) {
    const QString folder = QFileInfo(QString::fromStdString(path)).absolutePath();
    reveal_.showItem(path, [this, folder](bool accepted) {
        if (!accepted) openFolder(folder.toStdString());
    });
}

void DesktopFileManager::openFolder(const std::string& path) {
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path))))
        logLine("Could not open the folder " + path + " in a file manager");
}

}  // namespace corvane
