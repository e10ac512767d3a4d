#include "ui/library/ClipMimeData.h"

#include <QList>
#include <QUrl>

namespace corvane {

std::unique_ptr<QMimeData> clipFilesMimeData(const std::vector<std::string>& paths) {
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    QByteArray gnome("copy");
    for (const auto& path : paths) {
        const QUrl url = QUrl::fromLocalFile(QString::fromStdString(path));
        urls << url;
        gnome += '\n' + url.toEncoded();
    }
    data->setUrls(urls);
    data->setData(QStringLiteral("x-special/gnome-copied-files"), gnome);
    return data;
}

}  // namespace corvane
