# A settings file shorter than one record stops the start-up with an
# input/output error box; the frame never appears and the file is untouched.
source "$(dirname "$0")/lib.sh"
start_x
head -c 100 /dev/urandom > "$WORK/RYV_travok.CFG"
sum_before=$(sha256sum < "$WORK/RYV_travok.CFG")
(cd "$WORK" && exec env LC_ALL=C.UTF-8 "$APP" >"$WORK/app.log" 2>&1) &
APP_PID=$!
box=$(wait_window "$(basename "$APP" | cut -d. -f1)")
sleep 0.5
shot short_settings_box
# xdotool matches names without regard to case: compare them exactly.
for id in $(xdotool search --onlyvisible --name 'ryv_demo' 2>/dev/null); do
  [ "$(xdotool getwindowname "$id")" = "RYV_demo" ] && fail "the frame must not appear"
done
[ "$(xdotool getwindowname "$box")" = "ryv_demo" ] || fail "the error box is captioned with the executable's name"
press_until_exit "$box" Return
[ "$(sha256sum < "$WORK/RYV_travok.CFG")" = "$sum_before" ] || fail "the settings file was changed"
[ "$(stat -c %s "$WORK/RYV_travok.CFG")" = 100 ] || fail "the settings file was rewritten"
echo "e2e short settings file: 1 passed, 0 failed"
