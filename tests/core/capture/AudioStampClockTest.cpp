#include "core/capture/CaptureClock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace corvane {
namespace {

constexpr int64_t kBlock = 960;  // 20 ms at 48 kHz
constexpr double kStartSeconds = 5000;  // the stream's first sample, on the capture clock

struct StreamCase {
    const char* name;
    double seconds;          // how long the stream runs
    double deviceRatePpm;    // how much faster than nominal the device delivers samples
    double firstReadLateMs;  // the very first read comes this late
    double stallAt = -1;     // the reader is held up here (seconds into the stream) ...
    double stallSeconds = 0; // ... for this long, then reads the backlog at once
    double lostAt = -1;      // the server drops samples here ...
    double lostMs = 0;       // ... this many
    double maxErrorMs;       // |stamp - true capture time| after the first seconds
    int maxJumps;            // stamps that do not follow on from the previous block
};

class AudioStampClockTable : public ::testing::TestWithParam<StreamCase> {};

TEST_P(AudioStampClockTable, StampsStayOnTheTrueCaptureTime) {
    const StreamCase& c = GetParam();
    AudioStampClock clock(48000);
    const double rate = 48000 * (1 + c.deviceRatePpm * 1e-6);
    std::srand(7);
    double captured = 0;  // seconds of the device's time line behind the samples handed over
    double stallUntil = -1;
    bool lost = false;
    int64_t expectedNext = 0;
    int jumps = 0;
    double worstMs = 0;
    for (int64_t block = 0; captured < c.seconds; ++block) {
        const double firstSampleAt = kStartSeconds + captured;
        if (!lost && c.lostAt >= 0 && captured >= c.lostAt) {
            lost = true;
            captured += c.lostMs / 1000;  // those samples never reach the reader
            continue;
        }
        captured += kBlock / rate;
        const double available = kStartSeconds + captured;
        // Scheduling delay of 0-3 ms, the first read much later, a stall held until it ends.
        double readAt = available + (std::rand() % 3000) * 1e-6;
        if (block == 0) readAt += c.firstReadLateMs / 1000;
        if (c.stallAt >= 0 && captured >= c.stallAt && stallUntil < 0) stallUntil = available + c.stallSeconds;
        if (readAt < stallUntil) readAt = stallUntil;

        const SteadyTime at{std::chrono::microseconds(int64_t(std::llround(readAt * 1e6)))};
        const MediaTime stamp = clock.stampBlock(kBlock, at);
        ASSERT_EQ(stamp.timescale(), 48000);
        if (block > 0 && stamp.value() != expectedNext) ++jumps;
        expectedNext = stamp.value() + kBlock;
        // Samples the server dropped are caught up once the estimate's window has passed them.
        const bool catchingUp = lost && captured < c.lostAt + AudioStampClock::kWindowSeconds + 1;
        if (captured > 2.0 && !catchingUp) worstMs = std::max(worstMs, std::abs(stamp.seconds() - firstSampleAt) * 1000);
    }
    EXPECT_LE(worstMs, c.maxErrorMs);
    EXPECT_LE(jumps, c.maxJumps);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, AudioStampClockTable,
    ::testing::Values(
        // A device in step with the machine: one anchor, never moved, within the read delays.
        StreamCase{"InStep", 600, 0, 0, -1, 0, -1, 0, 3.5, 0},
        // The first read came 200 ms late: the next seconds pull the stamps back once.
        StreamCase{"LateFirstRead", 60, 0, 200, -1, 0, -1, 0, 3.5, 1},
        // The reader was held up for 1.5 s and then read the backlog: the stamps do not move.
        StreamCase{"ReaderStall", 60, 0, 0, 20, 1.5, -1, 0, 3.5, 0},
        // A device 80 ppm fast or slow: a correction about every two minutes, never a drift.
        StreamCase{"FastDevice", 3600, 80, 0, -1, 0, -1, 0, 13, 35},
        StreamCase{"SlowDevice", 3600, -80, 0, -1, 0, -1, 0, 13, 35},
        // 300 ms the server dropped: one jump, and on the true time again within the window.
        StreamCase{"LostSamples", 60, 0, 0, -1, 0, 30, 300, 3.5, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace corvane
