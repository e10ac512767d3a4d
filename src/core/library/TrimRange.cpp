#include "core/library/TrimRange.h"

#include <algorithm>
#include <cmath>

namespace corvane {

TrimRange::TrimRange(double clipDurationSeconds)
    : duration_(std::isfinite(clipDurationSeconds) ? std::max(clipDurationSeconds, 0.1) : 0.1),
      end_(duration_) {}

double TrimRange::setStartToCurrent() {
    const double limit = std::max(end_ - kMinLength, 0.0);
    start_ = std::max(std::min(current_, limit), 0.0);
    if (current_ < start_) {
        current_ = start_;
        return current_;
    }
    return -1;
}

double TrimRange::setEndToCurrent() {
    end_ = std::min(std::max(current_, start_ + kMinLength), duration_);
    if (current_ > end_) {
        current_ = end_;
        return current_;
    }
    return -1;
}

double TrimRange::step(double deltaSeconds) {
    current_ = std::max(std::min(current_ + deltaSeconds, duration_), 0.0);
    return current_;
}

double TrimRange::jumpToStart() { return current_ = start_; }
double TrimRange::jumpToEnd() { return current_ = end_; }

double TrimRange::scrubTo(double t) {
    if (!std::isfinite(t)) return -1;
    current_ = std::clamp(t, 0.0, duration_);
    return current_;
}

double TrimRange::dragStartHandle(double t) {
    if (!std::isfinite(t)) return -1;
    start_ = std::max(std::min(t, end_ - kMinLength), 0.0);
    current_ = start_;  // the preview shows the frame under the handle
    return start_;
}

double TrimRange::dragEndHandle(double t) {
    if (!std::isfinite(t)) return -1;
    end_ = std::max(std::min(t, duration_), start_ + kMinLength);
    current_ = end_;
    return end_;
}

bool TrimRange::playerAt(double t, bool playing) {
    if (!std::isfinite(t)) return false;
    current_ = t;
    if (playing && t >= end_) {
        current_ = start_;
        return true;
    }
    return false;
}

double TrimRange::prepareToPlay() {
    if (current_ >= end_ || current_ < start_) {
        current_ = start_;
        return current_;
    }
    return -1;
}

void TrimRange::setCurrent(double t) {
    if (std::isfinite(t)) current_ = t;
}

}  // namespace corvane
