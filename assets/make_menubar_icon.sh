#!/usr/bin/env bash
# Regenerates the tray icon (menubar_icon.png): a record symbol, ring and dot, in one light
# tone with a dark rim so it reads on dark and light panels. 18x18 with transparency.
set -euo pipefail
cd "$(dirname "$0")"
convert -size 18x18 xc:none \
  -fill none -stroke '#404040' -strokewidth 3.5 -draw "circle 9,9 9,2" \
  -stroke '#e6e6e6' -strokewidth 2 -draw "circle 9,9 9,2" \
  -stroke '#404040' -strokewidth 1 -fill '#e6e6e6' -draw "circle 9,9 9,5.5" \
  -define png:exclude-chunks=date,time -strip PNG32:menubar_icon.png
