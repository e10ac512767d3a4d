#pragma once

// A test tone for the PulseAudio session: what "system audio" means to the capture.

#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace corvane::testing {

// Plays a 440 Hz sine (amplitude 0.25) into a sink (the default one if empty) through pacat
// until destroyed.
class Tone {
public:
    explicit Tone(const std::string& sink = {}) {
        const std::string cmd = "pacat --playback --raw --format=float32le --rate=48000 --channels=2 "
                                "--latency-msec=40" + (sink.empty() ? "" : " --device=" + sink);
        pipe_ = popen(cmd.c_str(), "w");
        if (!pipe_) return;
        writer_ = std::thread([this] {
            std::vector<float> chunk(960 * 2);
            for (int64_t n = 0; !stop_;) {
                for (size_t i = 0; i < 960; ++i, ++n)
                    chunk[2 * i] = chunk[2 * i + 1] = 0.25f * float(std::sin(2.0 * M_PI * 440.0 * double(n) / 48000.0));
                if (fwrite(chunk.data(), sizeof(float), chunk.size(), pipe_) != chunk.size()) break;
                fflush(pipe_);
            }
        });
    }
    ~Tone() {
        stop_ = true;
        if (writer_.joinable()) writer_.join();
        if (pipe_) pclose(pipe_);
    }
    bool ok() const { return pipe_ != nullptr; }

private:
    FILE* pipe_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread writer_;
};

}  // namespace corvane::testing
