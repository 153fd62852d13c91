#!/usr/bin/env bash
# Takes docs/screenshot.png: the real program under a private Xvfb with two
# spectrum windows, input 1 showing samples/two_peaks_1024.txt with the
# markers around its left peak and input 2 showing samples/flat_1024.txt.
# Driven from outside with xdotool, as an operator would: the windows menu,
# Ctrl+O and the file dialog, Shift+Page Up, dragging the markers.
#
# With --live first it takes docs/live_acquisition.png instead: the simulated
# detector (all built-in sources) building up a spectrum in input 1.
#
# With --peaks first it takes docs/reading_a_spectrum.png: the simulated
# detector (all built-in sources) with a calibrated settings file, the count
# scale logarithmic and automatic, the channel scale in keV and the peak
# panel open, as the user's view choices in a private configuration folder.
#
# Usage: tools/screenshot.sh [--live|--peaks] [program [output.png]]
#   program defaults to build/ryv_demo, output to docs/screenshot.png
#   (docs/live_acquisition.png with --live, docs/reading_a_spectrum.png
#   with --peaks).
#   With SHOT_DEBUG=<folder> the intermediate screenshots are kept there.
set -euo pipefail
SRC="$(cd "$(dirname "$0")/.." && pwd)"
LIVE=""
PEAKS=""
if [ "${1:-}" = --live ]; then
  LIVE=1
  shift
elif [ "${1:-}" = --peaks ]; then
  PEAKS=1
  shift
fi
APP="$(realpath "${1:-$SRC/build/ryv_demo}")"
OUT="$SRC/docs/screenshot.png"
[ -n "$LIVE" ] && OUT="$SRC/docs/live_acquisition.png"
[ -n "$PEAKS" ] && OUT="$SRC/docs/reading_a_spectrum.png"
OUT="$(realpath -m "${2:-$OUT}")"
WORK="$(mktemp -d /tmp/ryv_shot_XXXXXX)"
APP_PID=""
XVFB_PID=""
cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

wait_window() {
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  fail "no window named $1"
}
wait_gone() {
  for _ in $(seq 100); do
    [ -z "$(xdotool search --onlyvisible --name "$1" 2>/dev/null || true)" ] && return 0
    sleep 0.1
  done
  fail "window $1 stays open"
}

# The frame at the screen's top left corner, W x H.
place_frame() {
  xdotool windowmove "$FRAME" 0 0
  xdotool windowsize "$FRAME" "$1" "$2"
  sleep 0.7
}

# Windows menu ("&Окна", first in the bar) -> "&Новое".
new_spectrum_window() {
  xdotool mousemove 25 9 click 1
  sleep 0.6
  xdotool mousemove 42 31 click 1
  sleep 1.2
}

# The frame cut out of the screen, written to OUT.
write_frame_shot() {
  import -window root "$WORK/full.png"
  eval "$(xdotool getwindowgeometry --shell "$FRAME")"
  convert "$WORK/full.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -strip \
          -define png:compression-level=9 "$OUT"
  echo "wrote $OUT ($(stat -c %s "$OUT") bytes)"
}

# A private X server, without a window manager.
exec 5>"$WORK/display"
Xvfb -displayfd 5 -noreset -screen 0 1400x1000x24 -nolisten tcp >/dev/null 2>&1 &
XVFB_PID=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
[ -s "$WORK/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$WORK/display")"
# The display is named before it accepts clients.
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

mkdir "$WORK/run"

if [ -n "$PEAKS" ]; then
  # A settings file of one input at 1024 channels, calibrated on the
  # simulated detector's Am-241 and Co-60 lines (channel = E * 1024 / 1600
  # - 0.5), markers around the Cs-137 line; shaping 4 us.
  python3 - "$WORK/run/RYV_travok.CFG" <<'PY'
import struct, sys
c = lambda e: e * 1024 / 1600 - 0.5
rec = struct.pack('<3diiHHBB2x2i4i4d3iB3x3BB4x3diB3x',
    0.9, 0.9, 0.9, 25, 0, 1, 1024, 1, 1, 400, 460, 10, 20, 1000, 1010,
    59.54, 1332.49, c(59.54), c(1332.49), 1, 1024, 0, 0, 0, 0, 0, 1,
    36000.1, 36000.1, 36000.1, 0, 2)
assert len(rec) == 152
open(sys.argv[1], 'wb').write(rec)
PY
  mkdir -p "$WORK/config/RYV_demo"
  printf '[View]\nLogScale=true\nAutoScale=true\nKeVAxis=true\nPeakPanel=true\nThreshold=4\n' \
    >"$WORK/config/RYV_demo/RYV_demo.conf"
  (cd "$WORK/run" && exec env LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$WORK/config" "$APP" \
     --simulate --rate 20000 --seed 5 >"$WORK/app.log" 2>&1) &
  APP_PID=$!
  FRAME=$(wait_window '^RYV_demo \(')
  place_frame 1100 780
  new_spectrum_window
  xdotool key --clearmodifiers ctrl+s
  sleep "${SHOT_SECONDS:-15}"
  xdotool mousemove 1090 5
  sleep 1.2
  write_frame_shot
  exit 0
fi
if [ -n "$LIVE" ]; then
  (cd "$WORK/run" && exec env LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb "$APP" --simulate --rate 40000 --seed 5 \
     >"$WORK/app.log" 2>&1) &
  APP_PID=$!
  FRAME=$(wait_window '^RYV_demo \(')
  place_frame 720 520
  # A window, full scale 25 * 2^7 = 3200 counts, Ctrl+S.
  new_spectrum_window
  for _ in $(seq 7); do xdotool key --clearmodifiers shift+Prior; sleep 0.1; done
  xdotool key --clearmodifiers ctrl+s
  sleep "${SHOT_SECONDS:-8}"
  xdotool mousemove 700 800
  sleep 1.2
  write_frame_shot
  exit 0
fi
(cd "$WORK/run" && exec env LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb "$APP" >"$WORK/app.log" 2>&1) &
APP_PID=$!
FRAME=$(wait_window '^RYV_demo$')
place_frame 1300 520

# Two spectrum windows.
new_spectrum_window
new_spectrum_window
import -window root "$WORK/windows.png"
[ -n "${SHOT_DEBUG:-}" ] && cp "$WORK/windows.png" "$SHOT_DEBUG/windows.png"

# Ctrl+O in a spectrum window, the full path typed into the file dialog.
# The spectrum windows live inside the frame (not X windows of their own):
# a click on a title bar makes that window the active one.
read_sample() {
  xdotool mousemove "$1" 30 click 1
  sleep 0.5
  xdotool key --clearmodifiers ctrl+o
  wait_window '^Открытие файла спектра$' >/dev/null
  sleep 0.5
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 20 "$2"
  sleep 0.3
  xdotool key Return
  wait_gone '^Открытие файла спектра$'
  sleep 0.5
}
read_sample 940 "$SRC/samples/flat_1024.txt"
read_sample 300 "$SRC/samples/two_peaks_1024.txt"

# Full scale 25 * 2^10 = 25600 counts.
for _ in $(seq 10); do xdotool key --clearmodifiers shift+Prior; sleep 0.1; done
sleep 1.5
import -window root "$WORK/before_markers.png"
[ -n "${SHOT_DEBUG:-}" ] && cp "$WORK/before_markers.png" "$SHOT_DEBUG/"

# The plot of input 1: the bounding box of its pure blue pixels.
geom=$(convert "$WORK/before_markers.png" -crop 640x520+0+0 +repage -fill black +opaque '#0000FF' \
         -trim -format '%X %Y' info:)
read -r px py <<<"$geom"
px=${px#+}; py=${py#+}
# Markers around the left peak, at channels 240 and 288: with 1024 channels
# on 512 columns a marker stands on column channel / 2, and a drag puts it on
# the channel of the column right of the pointer. Marker 2 first (from its
# default column 450), then marker 1 (from column 50).
drag() {
  local from=$1 to=$2 y=$((py + 150))
  xdotool mousemove $((px + from + 30)) "$y" mousedown 1
  sleep 0.2
  xdotool mousemove $((px + from)) "$y"
  sleep 0.2
  xdotool mousemove $((px + (from + to) / 2)) "$y"
  sleep 0.2
  xdotool mousemove $((px + to)) "$y"
  sleep 0.2
  xdotool mouseup 1
  sleep 0.3
}
drag 450 143
drag 50 119
xdotool mousemove 700 800
sleep 2.2

write_frame_shot
