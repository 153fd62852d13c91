# Shared helpers of the end-to-end tests: a private Xvfb, the program in an
# empty temporary directory, waiting for windows, reading the settings file.
set -euo pipefail
APP="$1"
XCLOSE="$2"
SHOTS="$3"
mkdir -p "$SHOTS"
WORK="$(mktemp -d /tmp/ryv_e2e_XXXXXX)"
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
