# The simulated detector under a real X server: --simulate=cs137, a spectrum
# window, Ctrl+S, and a few seconds later the photopeak (661.66 keV, channel
# 423 of 1024, plot column 211) stands out of the plot. Stopped and saved
# from the window as N42, the file is valid N42 and states the exposure.
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
started=$(date +%s.%N)
press_in "$FRAME" ctrl+s
sleep 5
shot simulate
photopeak_of_shot simulate 180
awk -v t="$TOP" -v c="$CONT" 'BEGIN { exit !(t >= 20 && t >= 3 * c) }' || fail "the photopeak does not stand out"

press_in "$FRAME" ctrl+alt+s
stopped=$(date +%s.%N)
press_in "$FRAME" F2
DIALOG=$(wait_window '^Сохранение спектра$')
sleep 0.5
timeout 3 xdotool windowfocus --sync "$DIALOG" >/dev/null 2>&1 || true
xdotool type "$WORK/acquired.n42"
press_in "$DIALOG" Return
for _ in $(seq 50); do [ -s "$WORK/acquired.n42" ] && break; sleep 0.1; done
[ -s "$WORK/acquired.n42" ] || fail "the window saved no N42 file"
for schema in n42.xsd n42_structure.xsd; do
  xmllint --noout --schema "$(dirname "$0")/../interchange/$schema" "$WORK/acquired.n42" 2>"$WORK/lint" ||
    fail "the saved N42 is not valid against $schema: $(head -3 "$WORK/lint")"
done
real=$(sed -n 's|.*<RealTimeDuration>PT\([0-9.]*\)S</RealTimeDuration>.*|\1|p' "$WORK/acquired.n42")
echo "real time saved: ${real:-none} s, acquisition ran $(awk -v a="$started" -v b="$stopped" 'BEGIN { print b - a }') s"
awk -v r="${real:-0}" -v a="$started" -v b="$stopped" 'BEGIN { d = r - (b - a); exit !(r > 0 && d > -2 && d < 0.5) }' ||
  fail "real time ${real:-none} s is not the exposure"
echo "e2e simulate: 2 passed, 0 failed"
