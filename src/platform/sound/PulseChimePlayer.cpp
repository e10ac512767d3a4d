#include "platform/sound/PulseChimePlayer.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <string>

#include "core/log/Log.h"
#include "platform/sound/ChimeSound.h"

namespace corvane {

PulseChimePlayer::PulseChimePlayer() : pcm_(synthesizeChime()), worker_("corvane-chime") {}

PulseChimePlayer::~PulseChimePlayer() { worker_.stop(SerialQueue::StopMode::Drain); }

void PulseChimePlayer::playSavedChime() {
    bool expected = false;
    if (!busy_.compare_exchange_strong(expected, true)) return;
    if (!worker_.post([this] {
            playNow();
            busy_.store(false);
        })) {
        busy_.store(false);
    }
}

void PulseChimePlayer::playNow() {
    pa_sample_spec sampleFormat{};
    sampleFormat.format = PA_SAMPLE_FLOAT32LE;
    sampleFormat.rate = kChimeSampleRate;
    sampleFormat.channels = kChimeChannels;
    int error = 0;
    // nullptr server and device: the session's default sink.
    pa_simple* stream = pa_simple_new(nullptr, "Corvane", PA_STREAM_PLAYBACK, nullptr,
                                      "Clip saved", &sampleFormat, nullptr, nullptr, &error);
    if (!stream) {
        if (!reportedFailure_.exchange(true)) {
            logLine(std::string("Confirmation sound unavailable: ") + pa_strerror(error));
        }
        return;
    }
    const bool ok = pa_simple_write(stream, pcm_.data(), pcm_.size() * sizeof(float), &error) == 0 &&
                    pa_simple_drain(stream, &error) == 0;
    pa_simple_free(stream);
    if (ok) played_.fetch_add(1);
}

}  // namespace corvane
