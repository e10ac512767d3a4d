#include "ui/library/QtPreviewPlayer.h"

#include <QUrl>

#include <cmath>

namespace corvane {

QtPreviewPlayer::QtPreviewPlayer(QtPreviewEngine& engine, const std::string& path) : engine_(engine) {
    engine_.player.setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
}

QtPreviewPlayer::~QtPreviewPlayer() {
    engine_.player.stop();
    engine_.player.setSource(QUrl());
}

void QtPreviewPlayer::seek(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    engine_.player.setPosition(static_cast<qint64>(std::llround(seconds * 1000.0)));
}

}  // namespace corvane
