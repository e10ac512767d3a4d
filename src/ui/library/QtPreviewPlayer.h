#pragma once

#include <QAudioOutput>
#include <QMediaPlayer>

#include <string>

#include "core/library/ClipMedia.h"

namespace corvane {

// The one Qt Multimedia player of the library, kept for the library's life. A QMediaPlayer
// brings up a decoding pipeline (tens of MB and several threads) that is not fully returned
// when it is destroyed, so selections change its source instead of building new ones.
// Main thread.
struct QtPreviewEngine {
    QtPreviewEngine() { player.setAudioOutput(&audio); }
    QAudioOutput audio;
    QMediaPlayer player;
};

// A preview of one clip on the shared engine. Loading starts at construction; playback does
// not. Destroying it stops playback and clears the source, which releases the file. At most one
// exists per engine at a time (the library model holds a single player). Main thread.
class QtPreviewPlayer final : public PreviewPlayer {
public:
    QtPreviewPlayer(QtPreviewEngine& engine, const std::string& path);
    ~QtPreviewPlayer() override;

    void play() override { engine_.player.play(); }
    void pause() override { engine_.player.pause(); }
    bool isPlaying() const override { return engine_.player.playbackState() == QMediaPlayer::PlayingState; }
    double positionSeconds() const override { return static_cast<double>(engine_.player.position()) / 1000.0; }
    void seek(double seconds) override;

    QMediaPlayer& mediaPlayer() { return engine_.player; }

private:
    QtPreviewEngine& engine_;
};

}  // namespace corvane
