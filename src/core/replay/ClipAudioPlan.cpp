#include "core/replay/ClipAudioPlan.h"

#include <algorithm>

namespace corvane {
namespace {

constexpr int32_t kDefaultFrameSamples = 1024;

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Consecutive packets of one encoder run.
struct Run {
    size_t first = 0;
    size_t count = 0;
    int64_t firstPts = 0;  // in samples
};

}  // namespace

ClipAudioTrack planClipAudio(const std::vector<AudioPacketRef>& buffered, MediaTime start, MediaTime end,
                             std::shared_ptr<const AudioStreamFormat> fallbackFormat) {
    ClipAudioTrack track;
    track.format = std::move(fallbackFormat);
    for (auto it = buffered.rbegin(); it != buffered.rend(); ++it) {
        if (*it && (*it)->format) {
            track.format = (*it)->format;
            break;
        }
    }
    const int32_t rate = track.format ? track.format->sampleRate : AudioBlock::kSampleRate;
    const int64_t frame = track.format && track.format->frameSamples > 0 ? track.format->frameSamples
                                                                          : kDefaultFrameSamples;
    const MediaTime startTicks = start.convertedTo(rate), endTicks = end.convertedTo(rate);
    if (!startTicks.isValid() || !endTicks.isValid() || endTicks <= startTicks) return track;
    const int64_t startS = startTicks.value(), endS = endTicks.value();

    std::vector<Run> runs;
    for (size_t i = 0; i < buffered.size(); ++i) {
        const AudioPacket* p = buffered[i].get();
        const bool usable = p && p->format && track.format && p->format->joinsWith(*track.format) &&
                            p->pts.convertedTo(rate).isValid();
        if (!usable) continue;
        const bool continues = !runs.empty() && runs.back().first + runs.back().count == i &&
                               buffered[i - 1]->format == p->format;
        if (continues) {
            ++runs.back().count;
        } else {
            runs.push_back({i, 1, p->pts.convertedTo(rate).value()});
        }
    }

    // The grid: frame boundaries of the first run, or the clip's start when nothing was captured.
    const int64_t origin = runs.empty() ? startS : runs.front().firstPts;
    auto slotOf = [&](int64_t samples) { return floorDiv(samples - origin, frame); };
    const int64_t firstSlot = slotOf(startS) - 1;  // one frame of pre-roll
    const int64_t lastSlot = slotOf(endS - 1);
    const size_t slotCount = size_t(lastSlot - firstSlot + 1);
    std::vector<AudioPacketRef> slots(slotCount);

    for (const Run& run : runs) {
        const int64_t offset = ((run.firstPts - origin) % frame + frame) % frame;
        const int64_t shift = offset <= frame / 2 ? -offset : frame - offset;
        // The newer run takes over from its first frame (its priming packet) on.
        const int64_t runStart = slotOf(run.firstPts + shift) - firstSlot;
        if (runStart < int64_t(slotCount))
            std::fill(slots.begin() + std::max<int64_t>(runStart, 0), slots.end(), nullptr);
        for (size_t i = run.first; i < run.first + run.count; ++i) {
            const int64_t index = slotOf(buffered[i]->pts.convertedTo(rate).value() + shift) - firstSlot;
            if (index >= 0 && index < int64_t(slotCount)) slots[size_t(index)] = buffered[i];
        }
    }

    track.packets.reserve(slotCount);
    for (size_t i = 0; i < slotCount; ++i) {
        const int64_t at = origin + (firstSlot + int64_t(i)) * frame;
        const int64_t length = std::min<int64_t>(frame, endS - at);
        track.packets.push_back({std::move(slots[i]), MediaTime(at, rate), MediaTime(length, rate)});
    }
    return track;
}

}  // namespace corvane
