#!/usr/bin/env bash
# The part of soak_bench.sh that runs inside the virtual desktop.
set -uo pipefail
export LC_ALL=C  # byte offsets into the log, decimal points in figures
binary=$1
minutes=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/clip_checks.sh"

# The schedule (see soak_bench.sh).
if [ -n "${CORVANE_SOAK_SAVE_SECONDS:-}" ]; then
  save_every=$CORVANE_SOAK_SAVE_SECONDS
elif [ -n "${CORVANE_SOAK_SAVE_EVERY:-}" ]; then
  save_every=$((CORVANE_SOAK_SAVE_EVERY * 60))  # the older setting, in minutes
else
  save_every=20
fi
read -r -a save_lengths <<<"${CORVANE_SOAK_SAVE_LENGTHS:-10 30}"
long_save=${CORVANE_SOAK_LONG_SAVE:-200}       # seconds, asked once as the sixth save (0: never)
audio_every=${CORVANE_SOAK_AUDIO_EVERY:-4}     # minutes between audio-server restarts (0: never)
scene_every=${CORVANE_SOAK_SCENE_EVERY:-2}     # minutes between screen and window changes (0: never)
warmup=${CORVANE_SOAK_WARMUP:-140}             # seconds: a full 130 s buffer before the first reading
max_log_bytes=$((8 * 1024 * 1024))             # Corvane's log is emptied past this, once read

work=$(mktemp -d /tmp/corvane-soak.XXXXXX)
clips="$work/clips"
log="$work/corvane.log"
config="$work/home/.config/corvane/config.toml"
corvane= tone= server= scene_a= scene_b= flash= mode_keeper=
id_holders=()
screen_output= full_mode= small_mode=1024x576_soak screen_small=0
cleanup() {
  # The extra mode goes with its keeper's connection; the screen must not be using it then
  # (Xvfb does not survive losing the mode in use).
  if [ -n "$mode_keeper" ]; then
    ((screen_small)) && xrandr --output "$screen_output" --mode "$full_mode" 2>/dev/null
    kill "$mode_keeper" 2>/dev/null
  fi
  for pid in $corvane $tone $server $scene_a $scene_b $flash "${id_holders[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

start_tone() {
  ffmpeg -nostdin -loglevel quiet -re -f lavfi \
    -i "aevalsrc=0.15*sin(2*PI*220*t)+0.1*sin(2*PI*277*t)+0.1*sin(2*PI*330*t)+0.05*(random(0)-0.5):s=48000" \
    -ac 2 -f pulse default &
  tone=$!
}
# Kills the session's audio server and starts a fresh one on the same socket, as an update or a
# crash of the desktop's audio server does.
restart_audio_server() {
  kill "$tone" 2>/dev/null
  # This desktop's server only (other desktops may run on the same machine).
  local old
  old=$(cat "$XDG_RUNTIME_DIR/pulse/pid")
  kill "$old"
  while kill -0 "$old" 2>/dev/null; do sleep 0.1; done
  setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=corvane_test_sink rate=48000 channels=2" >/dev/null 2>&1 &
  server=$!
  until pactl info >/dev/null 2>&1; do sleep 0.1; done
  pactl set-default-sink corvane_test_sink
  start_tone
}

# Two moving windows to capture by id, inside the smaller screen size too.
show_window() {  # title, size, left, top; prints the process id
  SDL_AUDIODRIVER=dummy ffplay -loglevel quiet -window_title "$1" -f lavfi -i "testsrc2=size=$2:rate=30" \
    -an -noborder -left "$3" -top "$4" >/dev/null 2>&1 &
  echo $!
}
window_id() {  # title; waits up to 10 s for the window
  local id
  for _ in $(seq 1 50); do
    id=$(xdotool search --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}
show_window_b() { scene_b=$(show_window soak-scene-b 400x224 560 300); }
close_window_b() {  # as its close button does; returns once the player has gone
  python3 "$here/close_window.py" soak-scene-b 2>/dev/null || kill "$scene_b"
  for _ in $(seq 1 50); do kill -0 "$scene_b" 2>/dev/null || break; sleep 0.1; done
}
scene_a=$(show_window soak-scene-a 480x270 40 40)
show_window_b
start_tone

write_config() {  # captured window id (0: the whole screen)
  cat >"$config.new" <<TOML
fps = 30
resolution = "native"
output_dir = "$clips"
record_audio = true
play_sound = false
show_menubar = false
window_id = $1
TOML
  mv "$config.new" "$config"
}
# Nothing watches the configuration file: it is applied on request, as the settings tab does.
reload_config() {
  gdbus call --session --timeout 10 --dest org.corvane.Corvane --object-path /org/corvane/Corvane \
    --method org.corvane.Corvane.ReloadConfig 2>&1 >/dev/null | head -c 160
}
capture_window() {  # window id; prints what went wrong, if anything
  write_config "$1"
  reload_config
}

export HOME="$work/home"
mkdir -p "$(dirname "$config")"
write_config 0
# Appended, so that the log can be emptied under the running program.
"$binary" >>"$log" 2>&1 &
corvane=$!
# Left for days, the recorder lives in the tray: its window is closed.
for _ in $(seq 1 30); do python3 "$here/close_window.py" Corvane 2>/dev/null && break; sleep 1; done

# Screen size changes: Xvfb offers one mode, so a second one is added and kept while this runs.
screen_note=
if ((scene_every > 0)); then
  mkfifo "$work/keeper"
  python3 "$here/keep_screen_mode.py" 1024 576 "$small_mode" >"$work/keeper" 2>&1 &
  mode_keeper=$!
  read -r -t 10 screen_output <"$work/keeper"
  full_mode=$(xrandr 2>/dev/null | awk '/\*/ { print $1; exit }')
  if [ -z "$screen_output" ] || [ -z "$full_mode" ] || ! kill -0 "$mode_keeper" 2>/dev/null; then
    screen_note="screen size changes skipped: no second screen mode could be added (${screen_output:-no answer})"
    kill "$mode_keeper" 2>/dev/null
    mode_keeper=
  fi
fi

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
# Resident memory split: anonymous (heap, buffers) and file-backed (library code and data touched).
split_mb() { awk '/^RssAnon:/ { a = $2 } /^RssFile:/ { f = $2 } END { printf "anon %d MB, files %d MB", a / 1024, f / 1024 }' "/proc/$1/status"; }
now_s() { echo "${EPOCHREALTIME}"; }

# ---- What happens in a minute, printed on its line ----
declare -A note_count=()
note_order=()
note() {
  if [ -z "${note_count[$1]+x}" ]; then note_order+=("$1"); note_count[$1]=0; fi
  note_count[$1]=$((note_count[$1] + 1))
}
take_notes() {  # moves the notes gathered so far into $notes
  local n
  notes=
  for n in "${note_order[@]}"; do
    notes+="${notes:+; }$n"
    ((note_count[$n] > 1)) && notes+=" x${note_count[$n]}"
  done
  note_count=()
  note_order=()
}

# ---- Corvane's log, read as it grows ----
log_offset=0
audio_back=0 reconnect_failed=0 log_problems=0
restart_at=
back_delays=()
scan_log() {
  local size chunk="$work/log.new"
  size=$(stat -c %s "$log" 2>/dev/null || echo 0)
  ((size < log_offset)) && log_offset=0
  ((size == log_offset)) && return
  tail -c +$((log_offset + 1)) "$log" | head -c $((size - log_offset)) >"$chunk"
  # An unfinished last line is read next time.
  [ "$(tail -c 1 "$chunk" | od -An -tx1 | tr -d ' ')" = 0a ] || sed -i '$d' "$chunk"
  log_offset=$((log_offset + $(stat -c %s "$chunk")))
  local line target
  while IFS= read -r line; do
    case $line in
      *"System audio is back"*)
        audio_back=$((audio_back + 1))
        if [ -n "$restart_at" ]; then
          local delay
          delay=$(awk -v a="$restart_at" -v b="$(now_s)" 'BEGIN { printf "%.0f", b - a }')
          back_delays+=("$delay")
          note "audio back after ${delay} s"
          restart_at=
        else
          note "audio back"
        fi ;;
      *"System audio stopped"*) note "audio lost" ;;
      *"System audio reconnect failed"*) reconnect_failed=$((reconnect_failed + 1)) ;;
      *"System audio reconnected"*|*"Clip saved successfully"*|*"Screen parameters changed"*) ;;
      *"capture stream started on "*)
        target=${line#*started on }
        note "capture on ${target% @*})" ;;
      *"Stream interrupted: "*) note "stream interrupted (${line#*interrupted: })" ;;
      *"no longer found"*) note "window gone: display capture" ;;
      *[Ff]ail*|*[Ee]rror*|*Timeout*|*[Cc]ould\ not*|*Watchdog*|*Recovery*|*[Cc]rash*)
        log_problems=$((log_problems + 1))
        note "log: ${line:0:140}" ;;
    esac
  done <"$chunk"
  if ((size > max_log_bytes && log_offset == size)); then
    : >"$log"
    log_offset=0
  fi
}

# ---- Saves ----
asked=0 written=0 decodable=0 right_length=0 with_sound=0 split=0
save_number=0
save_and_check() {
  local seconds=$1 path save_note files=() file expected info first duration file_errors audio mean
  asked=$((asked + 1))
  path=$("$binary" --save "$seconds" 2>"$work/save.err")
  local status=$?
  save_note=$(head -c 300 "$work/save.err" | tr '\n' ' ' | sed 's/ *$//')
  if ((status != 0)) || [ ! -s "$path" ]; then
    note "save ${seconds} s FAILED: ${save_note:-no file}"
    find "$clips" -maxdepth 1 -name 'Clip_*.mp4' -delete 2>/dev/null
    return
  fi
  written=$((written + 1))
  # Every clip in the folder is this save's: each one is removed once checked.
  mapfile -t files < <(find "$clips" -maxdepth 1 -name 'Clip_*.mp4' | sort)
  ((${#files[@]} > 1)) && split=$((split + 1))
  local total=0 errors=0 tracks=0 loudest=-999 first_error=
  for file in "${files[@]}"; do
    { read -r info; read -r first || first=; } < <(check_clip_file "$file")
    read -r duration file_errors audio mean <<<"$info"
    total=$(awk -v a="$total" -v b="$duration" 'BEGIN { print a + b }')
    errors=$((errors + file_errors))
    [ -z "$first_error" ] && first_error=$first
    [ "$audio" != none ] && tracks=$((tracks + 1))
    [ "$mean" != - ] && loudest=$(awk -v a="$loudest" -v b="$mean" 'BEGIN { print (b > a) ? b : a }')
  done
  if [ -n "${CORVANE_SOAK_KEEP:-}" ] && ((errors > 0)); then
    mkdir -p "$CORVANE_SOAK_KEEP" && cp "${files[@]}" "$CORVANE_SOAK_KEEP/"
  fi
  rm -f "${files[@]}"
  # A request longer than the buffer saves what there is, and says how much.
  expected=$(sed -n 's/.*Saved \([0-9]*\) s of the.*/\1/p' <<<"$save_note")
  expected=${expected:-$seconds}
  local text="save ${seconds} s:" good=1
  ((errors == 0)) && decodable=$((decodable + 1)) || { good=0; text+=" ${errors} DECODING ERRORS (${first_error});"; }
  if awk -v t="$total" -v e="$expected" 'BEGIN { exit !(t >= e - 1.5 && t <= e + 2.5) }'; then
    right_length=$((right_length + 1))
  else
    good=0
    text+=" LENGTH $(printf '%.1f' "$total") s;"
  fi
  if ((tracks == ${#files[@]})) && awk -v l="$loudest" 'BEGIN { exit !(l > -50) }'; then
    with_sound=$((with_sound + 1))
  else
    good=0
    text+=" NO SOUND (${tracks} of ${#files[@]} files with audio, loudest ${loudest} dB);"
  fi
  ((good)) && text+=" ok"
  ((${#files[@]} > 1)) && text+=" (${#files[@]} files)"
  [ "$expected" != "$seconds" ] && text+=" ($(printf '%.0f' "$total") s: $(grep -o 'Saved [0-9]* s of the [0-9]* s asked' <<<"$save_note"))"
  note "${text%;}"
}
next_save() {
  save_number=$((save_number + 1))
  if ((save_number == 6 && long_save > 0)); then
    save_and_check "$long_save"
  else
    save_and_check "${save_lengths[$(((save_number - 1) % ${#save_lengths[@]}))]}"
  fi
}

# ---- Screen and captured-window changes, in a cycle ----
scene_step=0 screen_changes=0 window_changes=0
scene_event() {
  local step=$((scene_step % 6)) id problem
  scene_step=$((scene_step + 1))
  case $step in
    0|1)
      if [ -z "$mode_keeper" ]; then return; fi
      local mode=$small_mode
      ((step == 1)) && mode=$full_mode
      if xrandr --output "$screen_output" --mode "$mode" 2>"$work/xrandr.err"; then
        screen_small=$((step == 0))
        screen_changes=$((screen_changes + 1))
        note "screen now ${mode%_soak}"
      else
        note "screen change to ${mode%_soak} FAILED: $(head -c 120 "$work/xrandr.err")"
      fi ;;
    2|3)
      local name=soak-scene-a
      ((step == 3)) && name=soak-scene-b
      if id=$(window_id "$name"); then
        problem=$(capture_window "$id")
        window_changes=$((window_changes + 1))
        note "capturing window ${name#soak-scene-} ($id)${problem:+ RELOAD FAILED: $problem}"
      else
        note "window ${name#soak-scene-} not found"
      fi ;;
    4)
      # The captured window closes (as a game exits), comes back later as a new window, and is
      # captured again.
      local old_id
      old_id=$(window_id soak-scene-b)
      close_window_b
      sleep 6
      for _ in 1 2 3 4 5; do
        show_window_b
        id=$(window_id soak-scene-b) || break
        [ "$id" != "$old_id" ] && break
        # The X server gave the new client the lowest free range of ids, the closed window's
        # own. An idle client takes that range and the window opens once more, as on a desktop
        # in use, where an id does not come back so soon.
        close_window_b
        xev -root >/dev/null 2>&1 &
        id_holders+=($!)
      done
      if [ -n "$id" ]; then
        problem=$(capture_window "$id")
        window_changes=$((window_changes + 1))
        note "captured window b closed, reopened and captured ($id$([ "$id" = "$old_id" ] && echo ", its old id"))${problem:+ RELOAD FAILED: $problem}"
      else
        note "window b closed and not back"
      fi
      kill "${id_holders[@]}" 2>/dev/null
      id_holders=() ;;
    5)
      problem=$(capture_window 0)
      window_changes=$((window_changes + 1))
      note "capturing the whole screen${problem:+ RELOAD FAILED: $problem}" ;;
  esac
}

sleep "$warmup" & wait $!  # a stop request is handled at once, not after the warm-up
kill -0 "$corvane" 2>/dev/null || { echo "Corvane did not start:"; cat "$log"; exit 1; }
first=$(rss_kb "$corvane")
first_threads=$(ls "/proc/$corvane/task" | wc -l)
first_split=$(split_mb "$corvane")
echo "== soak: ${minutes} min after a ${warmup} s warm-up; first reading $((first / 1024)) MB, $first_threads threads"
every() { (($1 > 0)) && echo "every $1 min" || echo never; }
echo "   saves every ${save_every} s (${save_lengths[*]} s in turn$( ((long_save > 0)) && echo ", once ${long_save} s")); audio server restarted $(every "$audio_every"); screen or captured window changed $(every "$scene_every")"
[ -n "$screen_note" ] && echo "   $screen_note"
echo "minute  resident  ratio  threads  files  cpu%   events"
samples="$work/samples"
: >"$samples"
scan_log
take_notes  # what happened during the warm-up is not the first minute's
audio_restarts=0
start=$SECONDS
next_minute=$((start + 60))
next_save=$((start + save_every))
((audio_every > 0)) && next_audio=$((start + audio_every * 60 - 30)) || next_audio=-1
((scene_every > 0)) && next_scene=$((start + scene_every * 60 - 15)) || next_scene=-1
last_ticks=$(cpu_ticks "$corvane")
last_time=$(now_s)
m=0
while ((m < minutes)); do
  sleep 1
  if ! kill -0 "$corvane" 2>/dev/null; then
    wait "$corvane"
    echo "Corvane exited (status $?) in minute $((m + 1)); the end of its log:"
    tail -20 "$log"
    exit 1
  fi
  scan_log
  now=$SECONDS
  if ((now >= next_minute)); then
    m=$((m + 1))
    next_minute=$((next_minute + 60))
    ticks_now=$(cpu_ticks "$corvane")
    time_now=$(now_s)
    rss=$(rss_kb "$corvane")
    echo "$m $rss" >>"$samples"
    take_notes
    awk -v m="$m" -v r="$rss" -v f="$first" -v t="$(ls "/proc/$corvane/task" | wc -l)" \
        -v d="$(ls "/proc/$corvane/fd" | wc -l)" -v c="$((ticks_now - last_ticks))" -v k="$ticks" \
        -v s="$(awk -v a="$last_time" -v b="$time_now" 'BEGIN { print b - a }')" -v e="$notes" \
        'BEGIN { printf "%6d  %5d MB  x%.2f  %7d  %5d  %4.1f   %s\n", m, r / 1024, r / f, t, d, 100 * c / k / s, e }'
    last_ticks=$ticks_now
    last_time=$time_now
    continue
  fi
  if ((next_audio > 0 && now >= next_audio)); then
    next_audio=$((next_audio + audio_every * 60))
    [ -n "$restart_at" ] && note "audio NOT back since the last restart"
    restart_audio_server
    audio_restarts=$((audio_restarts + 1))
    restart_at=$(now_s)
    note "audio server restarted"
  fi
  if ((next_scene > 0 && now >= next_scene)); then
    next_scene=$((next_scene + scene_every * 60))
    scene_event
  fi
  if ((now >= next_save)); then
    while ((next_save <= now)); do next_save=$((next_save + save_every)); done
    next_save
  fi
done

# ---- The flash-and-beep scene for the last clip's A/V offset ----
# The whole screen at its first size, silence between the beeps, and a scene that plays its
# picture and its sound in step (one player, its sound through the session's audio server).
kill "$tone" 2>/dev/null
tone=
if ((screen_small)); then
  xrandr --output "$screen_output" --mode "$full_mode" && screen_small=0
fi
capture_window 0 >/dev/null
read -r screen_w screen_h < <(xdpyinfo | awk '/dimensions:/ { split($2, s, "x"); print s[1], s[2]; exit }')
SDL_AUDIODRIVER=pulseaudio ffplay -loglevel quiet -window_title soak-flash -f lavfi \
  -i "$(flash_video_graph 320 180)[out0];$(beep_audio_graph 0)[out1]" \
  -noborder -left 0 -top 0 -x "$screen_w" -y "$screen_h" >/dev/null 2>&1 &
flash=$!
sleep 15
offset="no clip"
if path=$("$binary" --save 10 2>/dev/null); then
  offset=$(av_offset "$path")
fi
find "$clips" -maxdepth 1 -name 'Clip_*.mp4' -delete
# The same scene captured by the command-line tools, for what the scene itself contributes.
ffmpeg -nostdin -loglevel error -thread_queue_size 1024 -f x11grab -framerate 30 \
  -video_size "${screen_w}x${screen_h}" -i "$DISPLAY" -thread_queue_size 1024 -f pulse \
  -i corvane_test_sink.monitor -t 10 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac \
  "$work/reference.mp4"
reference=$(av_offset "$work/reference.mp4")
rm -f "$work/reference.mp4"
kill "$flash"
flash=
known=$(av_offset_of_known_clip 100)
scan_log
take_notes

offset_text() {  # av_offset's answer
  if [[ $1 =~ ^[-+][0-9]+\ [0-9]+ ]]; then
    read -r median pairs lowest highest <<<"$1"
    echo "${median} ms (median of ${pairs} flash/beep pairs, from ${lowest} to ${highest} ms)"
  else
    echo "$1"
  fi
}

echo "== after ${minutes} min"
# Least-squares slope of resident memory over the run, per hour, as a share of the first reading.
awk -v f="$first" '{ n++; sx += $1; sy += $2; sxx += $1 * $1; sxy += $1 * $2
                     if ($2 > hi) { hi = $2; him = $1 }; last = $2 }
  END { if (n < 2) exit; s = (n * sxy - sx * sy) / (n * sxx - sx * sx);
        printf "memory trend: %+.1f MB per hour (%+.1f %% of the first reading); first %d MB, last %d MB, highest %d MB (minute %d)\n",
          s * 60 / 1024, 100 * s * 60 / f, f / 1024, last / 1024, hi / 1024, him }' "$samples"
thread_names() { cat /proc/"$1"/task/*/comm 2>/dev/null | sort | uniq -c | awk '{ printf "%s%s x%s", sep, $2, $1; sep = ", " }'; }
echo "resident memory split: $first_split at the first reading, $(split_mb "$corvane") at the end"
echo "threads: $first_threads at the first reading, $(ls "/proc/$corvane/task" | wc -l) at the end: $(thread_names "$corvane")"
echo "saves: $asked asked, $written written, $decodable decodable, $right_length of the expected length, $with_sound with sound ($split split into several files by a capture change)"
if ((audio_restarts > 0)); then
  delays=$(printf '%s\n' "${back_delays[@]}" | sort -n | awk '{ d[++n] = $1 } END { if (n) printf " %d to %d s after the restart, median %d s", d[1], d[n], d[int((n + 1) / 2)] }')
  echo "audio server restarts: $audio_restarts; audio back $audio_back times${delays}; failed reconnect attempts: $reconnect_failed"
fi
echo "screen size changes: $screen_changes; captured-window changes: $window_changes${screen_note:+ ($screen_note)}"
echo "A/V offset of the last clip (flash and beep scene, sound later than picture when positive): $(offset_text "$offset")"
echo "  the same scene captured by ffmpeg (x11grab + pulse): $(offset_text "$reference")"
echo "  the method on a clip made with a known +100 ms offset: $(offset_text "$known")"
[ -n "$notes" ] && echo "  meanwhile: $notes"
echo "problem lines in Corvane's log: $log_problems"
leftovers=$(find "$clips" -mindepth 1 -maxdepth 1 2>/dev/null | sed 's|.*/||' | sort)
if [ -z "$leftovers" ]; then
  echo "leftover files in the clips folder: none"
else
  echo "leftover files in the clips folder: $(wc -l <<<"$leftovers"): $(head -10 <<<"$leftovers" | paste -sd' ')"
fi
kill -TERM "$corvane"; wait "$corvane" 2>/dev/null
corvane=
