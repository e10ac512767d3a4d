#pragma once

#include <QAbstractListModel>
#include <QCache>
#include <QImage>
#include <QPixmap>

#include <memory>
#include <vector>

#include "core/library/ClipsViewModel.h"

namespace corvane {

// The Qt face of ClipsViewModel: one row per clip of `filteredClips()`, kept in step with the
// model, and the model's changes re-announced as a Qt signal for the views. It installs itself
// as the model's observer (onChange, onClipInfoChanged, nameMatcher). Main thread.
class ClipListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        PathRole = Qt::UserRole + 1,
        DurationTextRole,
        SizeTextRole,
        DateTextRole,
        ThumbnailRole,  // QPixmap fitted into kThumbnailSize at the screen's density, null while unknown
    };
    // The size (device-independent pixels) a row draws its thumbnail at.
    static constexpr QSize kThumbnailSize{64, 36};
    // The same in the screen's pixels: what the library's thumbnails should be probed at, so a
    // row draws them as they are.
    static QSize thumbnailPixels();

    explicit ClipListModel(ClipsViewModel& model, QObject* parent = nullptr);
    ~ClipListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // Rows drag out as the clip files themselves (see clipFilesMimeData).
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

    ClipsViewModel& clipsModel() { return model_; }
    const ClipItem* clipAt(int row) const;
    int rowOfPath(const std::string& path) const;
    // "Today, 10:04" etc. with the time in the user's locale.
    static QString dateText(const ClipItem& clip);

signals:
    // ClipsViewModel::Change bits, after this list model is up to date.
    void changed(unsigned changes);

private:
    void onModelChange(unsigned changes);
    void onClip(const std::string& path);

    ClipsViewModel& model_;
    std::vector<ClipItem> rows_;
    // The pictures of the rows drawn lately, at the size they are drawn; rows scrolled past are
    // made again from the library.
    mutable QCache<QString, QPixmap> thumbnails_{int(ClipMediaCache::kThumbnailsKept)};
};

// Thumbnail bytes as a picture Qt can draw, where they are: the image keeps the thumbnail alive
// and copies nothing.
QImage sharedImage(std::shared_ptr<const Thumbnail> thumbnail);

}  // namespace corvane
