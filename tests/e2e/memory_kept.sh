# The simulated data memory lives on: kept in RYV_memory.DAT beside the
# settings file, credited at the next start with the pulses of the time the
# program was closed; and a memory file that another program cuts short
# under a running window is said once, without a crash.
source "$(dirname "$0")/lib.sh"
MEMSUM="$4"
start_x

run_app() {
  (cd "$WORK" && exec env LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb "$APP" "$@" >"$WORK/app.log" 2>&1) &
  APP_PID=$!
  FRAME=$(wait_window '^RYV_demo \(')
}
quit_app() {
  "$XCLOSE" "$FRAME"
  press_until_exit "$(wait_window 'Вы делаете попытку выйти')" Return
}

run_app --simulate=cs137 --rate 2000 --seed 1
open_spectrum_window
press_in "$FRAME" ctrl+s
sleep 2
quit_app
[ -f "$WORK/RYV_memory.DAT" ] || fail "no data-memory file beside the settings file"
before=$("$MEMSUM" "$WORK/RYV_travok.CFG" "$WORK/RYV_memory.DAT" 1)
[ "$before" -gt 1000 ] || fail "only $before counts after 2 s"
# As if the program had been closed for 60 s: the exposure started 60 s
# earlier and the settings were written 60 s ago.
python3 - "$WORK/RYV_travok.CFG" <<'PY'
import struct, sys
with open(sys.argv[1], 'r+b') as f:
    f.seek(120); t = struct.unpack('<d', f.read(8))[0]
    f.seek(120); f.write(struct.pack('<d', t - 60 / 86400))
PY
touch -d '-60 seconds' "$WORK/RYV_travok.CFG"
run_app --simulate=cs137 --rate 2000 --seed 2
open_spectrum_window # the exposure timer runs again with a spectrum window
sleep 1
quit_app
after=$("$MEMSUM" "$WORK/RYV_travok.CFG" "$WORK/RYV_memory.DAT" 1)
echo "counts before the pause $before, after it $after"
# 60 s at 2000 pulses a second, of which about nine in ten fall on the spectrum
[ $((after - before)) -gt 90000 ] || fail "the closed time brought $((after - before)) counts"

run_app --simulate=cs137 --rate 100000 --memory m1
open_spectrum_window
press_in "$FRAME" ctrl+s
sleep 1
truncate -s 0 "$WORK/m1"
box=$(wait_window 'Файл памяти данных укорочен')
shot memory_cut_short
app_running || fail "the program ended when its memory file was cut short"
press_in "$box" Return
sleep 1.5
app_running || fail "the program ended after the box"
[ -z "$(xdotool search --onlyvisible --name 'Файл памяти данных укорочен' 2>/dev/null || true)" ] || fail "a second box"
quit_app
echo "e2e memory: 1 passed, 0 failed"
