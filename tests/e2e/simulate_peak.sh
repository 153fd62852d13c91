# The simulated detector under a real X server: --simulate=cs137, a spectrum
# window, Ctrl+S, and a few seconds later the photopeak (661.66 keV, channel
# 423 of 1024, plot column 211) stands out of the plot.
source "$(dirname "$0")/lib.sh"
start_x
(cd "$WORK" && exec env LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb "$APP" --simulate=cs137 --rate 100000 --seed 7 \
   >"$WORK/app.log" 2>&1) &
APP_PID=$!
FRAME=$(wait_window '^RYV_demo \(')
[ "$(xdotool getwindowname "$FRAME")" = "RYV_demo (имитация)" ] || fail "caption $(xdotool getwindowname "$FRAME")"
open_spectrum_window
# Full scale 25 * 2^9 = 12800 counts, then start.
for _ in $(seq 9); do press_in "$FRAME" shift+Prior; done
press_in "$FRAME" ctrl+s
sleep 5
shot simulate
photopeak_of_shot simulate 180
awk -v t="$TOP" -v c="$CONT" 'BEGIN { exit !(t >= 20 && t >= 3 * c) }' || fail "the photopeak does not stand out"
echo "e2e simulate: 1 passed, 0 failed"
