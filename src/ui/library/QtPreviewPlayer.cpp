#include "ui/library/QtPreviewPlayer.h"

#include <QUrl>

#include <cmath>

namespace corvane {

QtPreviewPlayer::QtPreviewPlayer(const std::string& path) {
    player_.setAudioOutput(&audio_);
    player_.setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
}

QtPreviewPlayer::~QtPreviewPlayer() {
    player_.stop();
    player_.setVideoOutput(nullptr);
}

void QtPreviewPlayer::seek(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    player_.setPosition(static_cast<qint64>(std::llround(seconds * 1000.0)));
}

}  // namespace corvane
