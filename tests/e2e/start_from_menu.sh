# The windows menu opened with the pointer, a spectrum window created,
# Ctrl+S starts all inputs, the exit with Yes saves Running and StartTime.
source "$(dirname "$0")/lib.sh"
start_x
start_app
xdotool windowsize "$FRAME" 1000 720
sleep 0.5
# "&Окна" is the first item of the menu bar, "&Новое" the first of its menu.
xdotool mousemove 245 159 click 1
sleep 0.6
shot start_menu_open
xdotool mousemove 262 181 click 1
sleep 1.5
sleep 1.2
before=$(date +%s)
press_in "$FRAME" ctrl+s
sleep 1.5
shot start_running
"$XCLOSE" "$FRAME"
box=$(wait_window 'Вы делаете попытку выйти')
press_until_exit "$box" Return
for off in 112 113 114; do
  [ "$(field $off u1)" = 1 ] || fail "Running byte at $off is not 1"
done
# StartTime of input 1, days since 1899-12-30 local time, within a minute of now
start=$(od -An -j 120 -N 8 -t f8 "$WORK/RYV_travok.CFG" | tr -d ' ')
now_days=$(python3 -c "import time,datetime; t=time.time(); lt=time.localtime(t); d=datetime.date(lt.tm_year,lt.tm_mon,lt.tm_mday)-datetime.date(1899,12,30); print(d.days+(lt.tm_hour*3600+lt.tm_min*60+lt.tm_sec)/86400)")
python3 -c "import sys; s=float('$start'); n=float('$now_days'); sys.exit(0 if abs(s-n) < 60/86400 else 1)" \
  || fail "StartTime $start is not now ($now_days)"
echo "e2e start: 1 passed, 0 failed"
