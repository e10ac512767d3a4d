# Checks of saved clips, sourced by the benchmark scripts. Needs ffmpeg and ffprobe.

# Checks one clip file: prints "<seconds> <decode errors> <audio codec or none> <mean dB or ->" on
# one line, then the first decoding error if there was one. Every stream is decoded once, on one
# thread and at low priority, so the recorder being measured keeps its share of the machine.
# Frames keep their own time base: a clip whose frames leave the 1/fps grid (a capture restart
# that continues the same run) is sound, but rounding its times to the grid would report
# duplicates.
check_clip_file() {
  local file=$1 duration audio report
  duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file" 2>/dev/null)
  audio=$(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 "$file" 2>/dev/null)
  # Level-tagged lines tell decoding errors from the volume report on the same run.
  report=$(nice -n 10 ffmpeg -nostdin -nostats -threads 1 -loglevel repeat+level+info -i "$file" -map 0 \
    -enc_time_base:v -1 -af volumedetect -f null - 2>&1)
  awk -v d="${duration:-0}" -v a="${audio:-none}" '
    /\[(error|fatal|panic)\]/ { errors++; if (first == "") first = $0 }
    /mean_volume:/ { for (i = 1; i < NF; i++) if ($i == "mean_volume:") mean = $(i + 1) }
    END { printf "%s %d %s %s\n", d, errors, a, mean == "" ? "-" : mean; if (first != "") print substr(first, 1, 160) }' <<<"$report"
}

# The median offset of sound against picture in a clip of a scene that flashes white while it
# beeps: each flash onset (the frame whose mean luma first crosses half-way between the darkest
# and the brightest frame) is paired with the nearest beep onset (the end of a silence) within
# half a second. Positive: the sound comes later than the picture. The picture's side is exact to
# one frame. Prints "<median ms> <pairs> <lowest ms> <highest ms>", or a reason.
av_offset() {
  local clip=$1
  {
    ffmpeg -nostdin -v error -i "$clip" -an \
      -vf "signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-" -f null - |
      awk -F'[: =]+' '/pts_time/ { for (i = 1; i < NF; i++) if ($i == "pts_time") t = $(i + 1) }
                      /YAVG/ { print "v", t, $NF }'
    ffmpeg -nostdin -v info -i "$clip" -vn -af "silencedetect=noise=-20dB:d=0.3" -f null - 2>&1 |
      awk '/silence_end/ { for (i = 1; i < NF; i++) if ($i == "silence_end:") print "a", $(i + 1) }'
  } | awk '
    $1 == "v" { n++; vt[n] = $2; vy[n] = $3; if (n == 1 || $3 < lo) lo = $3; if (n == 1 || $3 > hi) hi = $3 }
    $1 == "a" { na++; at[na] = $2 }
    END {
      if (n == 0 || hi - lo < 50) { print "no flashes in the picture"; exit }
      mid = (lo + hi) / 2
      for (i = 2; i <= n; i++) if (vy[i - 1] < mid && vy[i] >= mid) on[++nv] = vt[i]
      for (i = 1; i <= nv; i++) {
        best = ""
        for (j = 1; j <= na; j++) {
          d = at[j] - on[i]
          if (d > -0.5 && d <= 0.5 && (best == "" || d * d < best * best)) best = d
        }
        if (best != "") off[++m] = best * 1000
      }
      if (m == 0) { print "no beeps near the flashes"; exit }
      for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (off[j] < off[i]) { x = off[i]; off[i] = off[j]; off[j] = x }
      median = (m % 2) ? off[(m + 1) / 2] : (off[m / 2] + off[m / 2 + 1]) / 2
      printf "%+.0f %d %+.0f %+.0f\n", median, m, off[1], off[m]
    }'
}

# The flash-and-beep scene as lavfi graphs: white for 0.1 s at each whole second, and a 1 kHz
# beep at the same instants, the sound delayed by $3 seconds (0 for a scene in step).
flash_video_graph() { echo "color=c=black:s=$1x$2:r=30,drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:enable='lt(mod(t,1),0.1)'"; }
beep_audio_graph() { echo "aevalsrc='if(lt(mod(t-(${1:-0}),1),0.1),0.5*sin(2*PI*1000*t),0)':s=48000:c=stereo"; }

# Measures a clip made here with a known offset (milliseconds, $1) through the same codecs as
# Corvane's clips, so that a wrong method shows before its figure is trusted. Prints the figure.
av_offset_of_known_clip() {
  local known_ms=$1 dir file result
  dir=$(mktemp -d /tmp/corvane-avcheck.XXXXXX)
  file="$dir/known.mp4"
  ffmpeg -nostdin -v error -f lavfi -i "$(flash_video_graph 320 180)" \
    -f lavfi -i "$(beep_audio_graph "$(awk -v k="$known_ms" 'BEGIN { print k / 1000 }')")" -t 6 \
    -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -b:a 128k "$file"
  result=$(av_offset "$file")
  rm -rf "$dir"
  echo "$result"
}
