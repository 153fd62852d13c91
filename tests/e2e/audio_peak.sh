# A recording made by the repository's tool, measured as a live input under
# a real X server: --audio=FILE, a spectrum window, Ctrl+S, and a few seconds
# later the Cs-137 photopeak (661.66 keV, channel 423 of 1024, plot column
# 211) stands out of the plot; the caption names the recording, and the
# program exits while the recording still plays.
source "$(dirname "$0")/lib.sh"
"$4" "$WORK/cs137.wav" --seconds 30 --cps 3000 --seed 5 >/dev/null || fail "make_recording"
start_x
(cd "$WORK" && exec env LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb "$APP" --audio=cs137.wav >"$WORK/app.log" 2>&1) &
APP_PID=$!
FRAME=$(wait_window '^RYV_demo \(') || fail "no frame window; the program said: $(cat "$WORK/app.log")"
[ "$(xdotool getwindowname "$FRAME")" = "RYV_demo (запись cs137.wav)" ] || fail "caption $(xdotool getwindowname "$FRAME")"
open_spectrum_window
# Full scale 25 * 2^3 = 200 counts, then start.
for _ in $(seq 3); do press_in "$FRAME" shift+Prior; done
press_in "$FRAME" ctrl+s
sleep 6
shot audio
photopeak_of_shot audio 140
awk -v t="$TOP" -v c="$CONT" 'BEGIN { exit !(t >= 20 && t >= 2 * c) }' || fail "the photopeak does not stand out"
# Exit while the recording still plays: the capture thread ends with it.
"$XCLOSE" "$FRAME"
box=$(wait_window 'Вы делаете попытку выйти')
press_until_exit "$box" Return
[ -f "$WORK/RYV_travok.CFG" ] || fail "no settings file written"
grep -q 'terminate called' "$WORK/app.log" && fail "$(cat "$WORK/app.log")"
echo "e2e audio: 1 passed, 0 failed"
