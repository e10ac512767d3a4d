#include "ui/tray/TrayIconArt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPen>
#include <QPixmap>

namespace corvane {
namespace {

// The one tone of the monochrome art: light enough for dark panels, with a darker rim so it
// stays visible on light ones.
const QColor kInk(0xE6, 0xE6, 0xE6);
const QColor kRim(0x40, 0x40, 0x40);

QPixmap drawnRecordSymbol() {
    QPixmap pixmap(TrayIconArt::kSize, TrayIconArt::kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kRim, 3.5));
    p.drawEllipse(QRectF(2, 2, 14, 14));
    p.setPen(QPen(kInk, 2));
    p.drawEllipse(QRectF(2, 2, 14, 14));
    p.setPen(QPen(kRim, 1));
    p.setBrush(kInk);
    p.drawEllipse(QRectF(5.5, 5.5, 7, 7));
    return pixmap;
}

}  // namespace

QStringList TrayIconArt::searchPaths() {
    QStringList paths{QStringLiteral(":/corvane/menubar_icon.png")};
    if (QCoreApplication::instance()) {
        paths << QDir(QCoreApplication::applicationDirPath())
                     .filePath(QStringLiteral("assets/menubar_icon.png"));
    }
    paths << QStringLiteral("assets/menubar_icon.png") << QStringLiteral("../assets/menubar_icon.png")
          << QStringLiteral("../../assets/menubar_icon.png");
    return paths;
}

TrayIconArt::TrayIconArt() {
    for (const QString& path : searchPaths()) {
        if (!QFileInfo::exists(path)) continue;
        QPixmap loaded(path);
        if (loaded.isNull()) continue;
        base_ = loaded.scaled(kSize, kSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        source_ = path;
        return;
    }
    base_ = drawnRecordSymbol();
}

const QIcon& TrayIconArt::icon(TrayIconState state) const {
    QIcon& icon = icons_.at(static_cast<size_t>(state));
    if (icon.isNull()) icon = draw(state);
    return icon;
}

QIcon TrayIconArt::draw(TrayIconState state) const {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(state == TrayIconState::Idle || state == TrayIconState::Unavailable ? 0.45 : 1.0);
    p.drawPixmap(0, 0, base_);
    p.setOpacity(1.0);
    if (state == TrayIconState::Saving) {
        p.setPen(QPen(kRim, 1));
        p.setBrush(kInk);
        p.drawEllipse(QRectF(11, 11, 6.5, 6.5));
    } else if (state == TrayIconState::Unavailable) {
        p.setPen(QPen(kRim, 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3, 15), QPointF(15, 3));
        p.setPen(QPen(kInk, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3, 15), QPointF(15, 3));
    }
    p.end();
    return QIcon(pixmap);
}

}  // namespace corvane
