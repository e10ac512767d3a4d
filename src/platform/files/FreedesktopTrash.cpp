#include "platform/files/FreedesktopTrash.h"

#include <QFile>
#include <QString>

#include <cerrno>

namespace corvane {

FileOpResult FreedesktopTrash::moveToTrash(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (file.moveToTrash()) return FileOpResult::success();
    FileOpResult r;
    r.status = FileOpResult::Status::Failed;
    r.errorCode = EIO;
    r.message = file.errorString().toStdString();
    if (r.message.empty()) r.message = "The file could not be moved to the trash";
    return r;
}

}  // namespace corvane
