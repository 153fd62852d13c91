# Shared helpers of the end-to-end tests: a private Xvfb, the program in an
# empty temporary directory, waiting for windows, reading the settings file.
set -euo pipefail
APP="$1"
XCLOSE="$2"
SHOTS="$3"
mkdir -p "$SHOTS"
WORK="$(mktemp -d /tmp/ryv_e2e_XXXXXX)"
# The user's own view choices (Qt settings) stay out of the tests.
export XDG_CONFIG_HOME="$WORK/config"
APP_PID=""
XVFB_PID=""

cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  # What the program said, if anything.
  [ -s "$WORK/app.log" ] && sed "s/^/program: /" "$WORK/app.log" >&2
  exit 1
}

start_x() {
  exec 5>"$WORK/display"
  # -noreset: by default the server resets when its last client leaves,
  # and a program connecting during the reset is refused.
  Xvfb -displayfd 5 -noreset -screen 0 1280x960x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do
    [ -s "$WORK/display" ] && break
    sleep 0.1
  done
  [ -s "$WORK/display" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -1 "$WORK/display")"
  # Xvfb names its display before it accepts clients: wait for a client
  # to connect.
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "no client could connect to Xvfb"
}

start_app() {
  (cd "$WORK" && exec env LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb "$APP" >"$WORK/app.log" 2>&1) &
  APP_PID=$!
  FRAME=$(wait_window '^RYV_demo$')
}

# Prints the id of the first window whose name matches, waiting up to 10 s.
wait_window() {
  local id=""
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  fail "no window named $1"
}

app_running() { kill -0 "$APP_PID" 2>/dev/null; }

wait_exit() {
  for _ in $(seq 100); do
    app_running || { wait "$APP_PID" 2>/dev/null || true; APP_PID=""; return 0; }
    sleep 0.1
  done
  fail "the program did not exit"
}

shot() { import -window root "$SHOTS/$1.png"; }

# Value of a little-endian field of the settings file: offset, od type.
field() { od -An -j "$1" -N "$(printf '%s' "$2" | tr -dc 0-9)" -t "$2" "$WORK/RYV_travok.CFG" | tr -d ' '; }

# Colour of one screen pixel as rrggbb.
pixel() {
  convert "$SHOTS/$1.png" -crop "1x1+$2+$3" -depth 8 txt:- | tail -1 | grep -o '#[0-9A-Fa-f]\{6\}' | tr -d '#' | tr A-F a-f
}

# Gives a window the keyboard focus, then presses a key.
press_in() {
  timeout 3 xdotool windowfocus --sync "$1" >/dev/null 2>&1 || true
  sleep 0.2
  xdotool key --clearmodifiers "$2"
}

# Presses a key in a box until the program ends: on a busy machine the box
# may take the focus late and miss the first press.
press_until_exit() {
  for _ in 1 2 3; do
    press_in "$1" "$2"
    for _ in $(seq 50); do
      app_running || { wait "$APP_PID" 2>/dev/null || true; APP_PID=""; return 0; }
      sleep 0.1
    done
  done
  fail "the program did not exit"
}

# Gives the frame room and opens the first spectrum window ("&Окна" ->
# "&Новое", the first item of the menu bar and of its menu).
open_spectrum_window() {
  xdotool windowsize "$FRAME" 1000 720
  sleep 0.5
  xdotool mousemove 245 159 click 1
  sleep 0.6
  xdotool mousemove 262 181 click 1
  sleep 1.5
}

# The photopeak of a Cs-137 spectrum in the only window's plot of shot $1:
# sets FIRST (the plot's first screen column), PEAK_OFF (the tallest
# column's plot column), TOP (its height in pixels) and CONT (the mean
# height of plot columns 100 up to $2, the Compton continuum).
photopeak_of_shot() {
  local png="$SHOTS/$1.png"
  # Blue pixels per screen column (the histogram bars).
  convert "$png" -fill black +opaque '#0000FF' -fill white -opaque '#0000FF' -colorspace gray \
    -scale "$(identify -format %w "$png")x1!" -depth 16 txt:- |
    awk -F'[,:() ]+' 'NR > 1 { print $1, int($4 / 65535 * 960 + 0.5) }' >"$WORK/columns"
  local peak
  read -r FIRST peak TOP CONT <<<"$(awk -v to="$2" '
    $2 > 0 && first == "" { first = $1 }
    $2 > top { top = $2; peak = $1 }
    { h[$1] = $2 }
    END { for (x = first + 100; x < first + to; x++) s += h[x]; print first, peak, top, s / (to - 100) }' "$WORK/columns")"
  echo "plot from x=$FIRST, tallest column x=$peak ($TOP px), Compton region mean $CONT px"
  [ -n "$FIRST" ] || fail "no spectrum in the plot"
  PEAK_OFF=$((peak - FIRST))
  [ "$PEAK_OFF" -ge 203 ] && [ "$PEAK_OFF" -le 219 ] ||
    fail "tallest column at plot column $PEAK_OFF, not at the photopeak (211)"
}
