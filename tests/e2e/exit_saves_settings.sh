# Closed through its close box (the frame carries the program's icon): No keeps
# it running and writes nothing; Yes ends it and leaves a 152-byte settings
# file with the defaults.
source "$(dirname "$0")/lib.sh"
start_x
start_app
shot exit_frame
# The frame carries the program's icon for the window manager.
icon=$(xprop -id "$FRAME" _NET_WM_ICON)
grep -q 'Icon (32 x 32)' <<<"$icon" || fail "the frame has no icon of its own"

"$XCLOSE" "$FRAME"
box=$(wait_window 'Вы делаете попытку выйти')
press_in "$box" Escape
sleep 1
app_running || fail "No must keep the program running"
[ -e "$WORK/RYV_travok.CFG" ] && fail "No must not write the settings file"

"$XCLOSE" "$FRAME"
box=$(wait_window 'Вы делаете попытку выйти')
press_until_exit "$box" Return
[ -f "$WORK/RYV_travok.CFG" ] || fail "no settings file written"
[ "$(stat -c %s "$WORK/RYV_travok.CFG")" = 152 ] || fail "settings file is not 152 bytes"
[ "$(field 96 d4)" = 3 ] || fail "InputCount"
[ "$(field 100 d4)" = 1024 ] || fail "ChannelCount"
[ "$(field 34 u2)" = 1024 ] || fail "ViewWidth"
[ "$(field 24 d4)" = 25 ] || fail "VertScale"
[ "$(field 40 d4)" = 100 ] || fail "Marker 1"
[ "$(field 44 d4)" = 900 ] || fail "Marker 2"
[ "$(field 112 u1)" = 0 ] || fail "Running 1"
[ "$(field 115 u1)" = 1 ] || fail "ActOnAllInputs"
[ "$(od -An -j 0 -N 8 -t f8 "$WORK/RYV_travok.CFG" | tr -d ' ')" = 0.9 ] || fail "ExposurePreset 1"
echo "e2e exit: 1 passed, 0 failed"
