#pragma once

namespace corvane {

// The trim editor's range and playhead rules, in seconds. Pure state, main thread.
//
// The range is [start, end] inside [0, D], D being the clip's duration but at least 0.1 s; the
// controls keep start and end at least kMinLength apart. Each operation returns the time the
// preview must seek to, or a negative value when no seek is needed.
class TrimRange {
public:
    static constexpr double kMinLength = 0.2;

    explicit TrimRange(double clipDurationSeconds);

    double duration() const { return duration_; }  // D
    double start() const { return start_; }
    double end() const { return end_; }
    double current() const { return current_; }
    double keptLength() const { return end_ - start_ > 0 ? end_ - start_ : 0; }

    double setStartToCurrent();         // key I
    double setEndToCurrent();           // key O
    double step(double deltaSeconds);   // arrows and the step buttons; not limited to the range
    double jumpToStart();
    double jumpToEnd();
    // Timeline gestures; `t` is the time under the pointer.
    double scrubTo(double t);
    double dragStartHandle(double t);
    double dragEndHandle(double t);
    // The player reports its position: returns true when playback reached the end and must stop
    // (the caller pauses and seeks to start(), which is now current()).
    bool playerAt(double t, bool playing);
    // Play pressed while paused: seek target when the playhead is outside the range, else -1.
    double prepareToPlay();
    // The player reached `t` through a seek or otherwise (keeps current in step).
    void setCurrent(double t);

private:
    double duration_;
    double start_ = 0;
    double end_;
    double current_ = 0;
};

}  // namespace corvane
