#pragma once

#include <string>

#include "core/sched/Clock.h"

namespace corvane {

// The clip's length as it appears in its file name: seconds rounded to the nearest whole number
// (halves away from zero), at least 1. NaN and negative lengths give 1.
long long clipWholeSeconds(double seconds);

// "Clip_yyyy-MM-dd_HH-mm-ss_<N>s.mp4" in local time. copyIndex 1 is the plain name; 2, 3, ... add
// "_2", "_3" before ".mp4" so a second save in the same second keeps the first file. A save
// written as several files (the video format changed within it) numbers them in time order with
// part 1, 2, ...: "_part1" follows "<N>s", before any copy index. part 0: a save of one file.
std::string clipFileName(WallTime when, double seconds, int copyIndex = 1, int part = 0);

}  // namespace corvane
