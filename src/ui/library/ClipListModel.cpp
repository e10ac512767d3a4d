#include "ui/library/ClipListModel.h"

#include "ui/library/ClipMimeData.h"

#include <algorithm>

#include <QDateTime>
#include <QGuiApplication>
#include <QImage>
#include <QLocale>
#include <QTime>

#include "core/library/ClipTexts.h"

namespace corvane {

namespace {

// Whether the bytes cover the picture's size: Qt would read past the end of shorter ones.
bool holdsItsPixels(const Thumbnail& t) {
    return !t.empty() && t.rgb.size() >= static_cast<size_t>(t.width) * t.height * 3;
}

// The thumbnail fitted into a row's picture at the screen's density, scaled straight from the
// library's bytes (the scaled image is the only copy made).
QPixmap rowPicture(const Thumbnail& t) {
    if (!holdsItsPixels(t)) return {};
    const QImage bytes(t.rgb.data(), t.width, t.height, t.width * 3, QImage::Format_RGB888);
    // Already the size drawn when probed at thumbnailPixels(); scaling then copies nothing.
    QPixmap picture = QPixmap::fromImage(
        bytes.scaled(ClipListModel::thumbnailPixels(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    picture.setDevicePixelRatio(qApp->devicePixelRatio());
    return picture;
}

}  // namespace

QSize ClipListModel::thumbnailPixels() {
    return kThumbnailSize * qApp->devicePixelRatio();
}

QImage sharedImage(std::shared_ptr<const Thumbnail> t) {
    if (!t || !holdsItsPixels(*t)) return {};
    auto* owner = new std::shared_ptr<const Thumbnail>(std::move(t));
    const Thumbnail& picture = **owner;
    return QImage(picture.rgb.data(), picture.width, picture.height, picture.width * 3, QImage::Format_RGB888,
                  [](void* held) { delete static_cast<std::shared_ptr<const Thumbnail>*>(held); }, owner);
}

QString ClipListModel::dateText(const ClipItem& clip) {
    return QString::fromStdString(formatClipDate(clip.creationDate, std::chrono::system_clock::now(), [](int h, int m) {
        // The "C" locale's short format carries seconds; the list wants hours and minutes.
        const QLocale locale;
        if (locale.language() == QLocale::C) return QTime(h, m).toString(QStringLiteral("HH:mm")).toStdString();
        return locale.toString(QTime(h, m), QLocale::ShortFormat).toStdString();
    }));
}

ClipListModel::ClipListModel(ClipsViewModel& model, QObject* parent)
    : QAbstractListModel(parent), model_(model) {
    model_.onChange = [this](unsigned changes) { onModelChange(changes); };
    model_.onClipInfoChanged = [this](const std::string& path) { onClip(path); };
    model_.nameMatcher = [](const std::string& name, const std::string& needle) {
        return QString::fromStdString(name).contains(QString::fromStdString(needle), Qt::CaseInsensitive);
    };
    rows_ = model_.filteredClips();
}

ClipListModel::~ClipListModel() {
    model_.onChange = nullptr;
    model_.onClipInfoChanged = nullptr;
}

int ClipListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

Qt::ItemFlags ClipListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractListModel::flags(index);
    if (index.isValid()) f |= Qt::ItemIsDragEnabled;
    return f;
}

QStringList ClipListModel::mimeTypes() const {
    return {QStringLiteral("text/uri-list"), QStringLiteral("x-special/gnome-copied-files")};
}

QMimeData* ClipListModel::mimeData(const QModelIndexList& indexes) const {
    std::vector<std::string> paths;
    for (const QModelIndex& index : indexes) {
        if (const ClipItem* clip = index.isValid() ? clipAt(index.row()) : nullptr) paths.push_back(clip->path);
    }
    if (paths.empty()) return nullptr;
    return clipFilesMimeData(paths).release();  // the drag takes ownership
}

const ClipItem* ClipListModel::clipAt(int row) const {
    return row >= 0 && row < static_cast<int>(rows_.size()) ? &rows_[static_cast<size_t>(row)] : nullptr;
}

int ClipListModel::rowOfPath(const std::string& path) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].path == path) return static_cast<int>(i);
    return -1;
}

QVariant ClipListModel::data(const QModelIndex& index, int role) const {
    const ClipItem* clip = index.isValid() ? clipAt(index.row()) : nullptr;
    if (!clip) return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return QString::fromStdString(clip->name);
    case PathRole:
        return QString::fromStdString(clip->path);
    case DurationTextRole:
        return QString::fromStdString(clipLengthText(clip->durationSeconds, clip->damaged));
    case SizeTextRole:
        return QString::fromStdString(formatByteCount(clip->fileSize));
    case DateTextRole:
        return dateText(*clip);
    case ThumbnailRole: {
        const QString key = QString::fromStdString(clip->path);
        if (const QPixmap* cached = thumbnails_.object(key)) return *cached;
        const Thumbnail* t = model_.thumbnailFor(*clip);
        if (!t) return QPixmap();
        // Scaled once here rather than on every paint, and kept at the drawn size only.
        const QPixmap pixmap = rowPicture(*t);
        thumbnails_.insert(key, new QPixmap(pixmap));
        return pixmap;
    }
    default:
        return {};
    }
}

void ClipListModel::onModelChange(unsigned changes) {
    if (changes & ClipsViewModel::ClipsChanged) {
        std::vector<ClipItem> rows = model_.filteredClips();
        const bool sameFiles = rows.size() == rows_.size() &&
                               std::equal(rows.begin(), rows.end(), rows_.begin(),
                                          [](const ClipItem& a, const ClipItem& b) { return a.path == b.path; });
        if (sameFiles && !rows.empty()) {
            // The usual reload (a window got focus): same files in the same order. Updating the
            // rows in place keeps the list's scroll position and selection.
            rows_ = std::move(rows);
            thumbnails_.clear();
            emit dataChanged(index(0), index(static_cast<int>(rows_.size()) - 1));
        } else if (!sameFiles) {
            beginResetModel();
            rows_ = std::move(rows);
            thumbnails_.clear();
            endResetModel();
        }
    }
    emit changed(changes);
}

void ClipListModel::onClip(const std::string& path) {
    thumbnails_.remove(QString::fromStdString(path));
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].path != path) continue;
        for (const ClipItem& c : model_.clips()) {
            if (c.path != path) continue;
            rows_[i].durationSeconds = c.durationSeconds;
            rows_[i].damaged = c.damaged;
        }
        const QModelIndex idx = index(static_cast<int>(i));
        emit dataChanged(idx, idx);
        break;
    }
}

}  // namespace corvane
