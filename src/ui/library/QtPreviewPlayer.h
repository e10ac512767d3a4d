#pragma once

#include <QAudioOutput>
#include <QMediaPlayer>

#include <string>

#include "core/library/ClipMedia.h"

namespace corvane {

// The library's preview player on Qt Multimedia. Main thread. Loading starts at construction;
// playback does not. Destroying it stops playback and releases the file.
class QtPreviewPlayer final : public PreviewPlayer {
public:
    explicit QtPreviewPlayer(const std::string& path);
    ~QtPreviewPlayer() override;

    void pause() override { player_.pause(); }
    double positionSeconds() const override { return static_cast<double>(player_.position()) / 1000.0; }
    void seek(double seconds) override;

    QMediaPlayer& mediaPlayer() { return player_; }

private:
    QAudioOutput audio_;
    QMediaPlayer player_;
};

}  // namespace corvane
