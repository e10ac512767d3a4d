#!/usr/bin/env bash
# A long unattended run of the recorder, the way a user leaves it for days (window closed): a
# moving picture and sound on a private 1280x720 virtual desktop, a full replay buffer, and the
# faults of ordinary life on a schedule:
#   - a save through `corvane --save` every 20 s, 10 s and 30 s in turn and once more than the
#     buffer holds; each clip is checked (written, decodes without errors, about the length asked
#     or told, an audio track with sound) and then deleted;
#   - the audio server killed and started again every 4 minutes;
#   - every 2 minutes, in turn: the screen made smaller, back to its size, one window captured,
#     another window captured, that window closed and opened again, the whole screen captured.
# Every minute it prints resident memory (as a ratio to the first full-buffer reading), threads,
# open files, CPU and what happened. At the end: the memory trend per hour, the save counts, how
# often audio came back, the A/V offset of a last clip of a flash-and-beep scene (next to the
# same scene captured by ffmpeg), and any file left in the clips folder that is not a clip.
# Its own files stay small, so it can run for a day.
#
#   bench/soak_bench.sh [corvane binary] [minutes]      (default 30 minutes; 1440 for a day)
# Builds an optimised binary in build-bench/ when none is given.
#
# Settings (environment):
#   CORVANE_SOAK_SAVE_SECONDS  seconds between saves (20); CORVANE_SOAK_SAVE_EVERY, in minutes,
#                              is still read when it is not set
#   CORVANE_SOAK_SAVE_LENGTHS  the lengths saved in turn ("10 30")
#   CORVANE_SOAK_LONG_SAVE     the length asked once, as the sixth save (200; 0 for none)
#   CORVANE_SOAK_AUDIO_EVERY   minutes between audio-server restarts (4; 0 for none)
#   CORVANE_SOAK_SCENE_EVERY   minutes between screen and window changes (2; 0 for none)
#   CORVANE_SOAK_WARMUP        seconds recorded before the first reading (140: a full buffer)
#   CORVANE_SOAK_KEEP          a folder where clips with decoding errors are copied (none)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:-}
minutes=${2:-30}
if [ -z "$binary" ]; then
  cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$root/build-bench" --target corvane -j2 >/dev/null
  binary="$root/build-bench/src/app/corvane"
fi
export CORVANE_SESSION_SCREEN=1280x720x24 CORVANE_SESSION_NO_NOTIFY=1
exec "$root/scripts/with-test-session.sh" "$root/bench/soak_bench_session.sh" "$binary" "$minutes"
