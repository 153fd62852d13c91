# Installs the build with cmake --install into a temporary prefix, checks the
# installed layout, then starts the INSTALLED program under a private Xvfb in
# an empty directory and opens "&Помощь" -> "&Справка" with the pointer: the
# help viewer "Справка RYV_demo" must come up showing the help text, which the
# program can only have found in <prefix>/share/ryv_demo.
set -euo pipefail
CMAKE="$1"
BUILD="$2"
SRC="$3"
XCLOSE_TOOL="$4"
SHOTS_DIR="$5"
PREFIX="$(mktemp -d /tmp/ryv_prefix_XXXXXX)"

"$CMAKE" --install "$BUILD" --prefix "$PREFIX" >"$PREFIX.log" 2>&1 \
  || { cat "$PREFIX.log" >&2; rm -rf "$PREFIX" "$PREFIX.log"; echo "FAIL: cmake --install" >&2; exit 1; }
rm -f "$PREFIX.log"

set -- "$PREFIX/bin/ryv_demo" "$XCLOSE_TOOL" "$SHOTS_DIR"
source "$(dirname "$0")/../e2e/lib.sh"
trap 'cleanup; rm -rf "$PREFIX"' EXIT

# The layout: the program alone in bin, the help file and the samples in
# share/ryv_demo, the desktop entry and the icon where desktops look.
[ -x "$PREFIX/bin/ryv_demo" ] || fail "no bin/ryv_demo"
[ "$(ls "$PREFIX/bin")" = ryv_demo ] || fail "bin holds more than the program: $(ls "$PREFIX/bin")"
cmp "$BUILD/Ryv.hlp" "$PREFIX/share/ryv_demo/Ryv.hlp" || fail "help file"
for f in "$SRC"/samples/*.txt; do
  cmp "$f" "$PREFIX/share/ryv_demo/samples/$(basename "$f")" || fail "sample $(basename "$f")"
done
[ -f "$PREFIX/share/applications/ryv_demo.desktop" ] || fail "no desktop entry"
[ -f "$PREFIX/share/icons/hicolor/scalable/apps/ryv_demo.svg" ] || fail "no icon"
[ -z "$(ls -A "$WORK" | grep -v '^display$')" ] || fail "the working directory is not empty"

start_x
start_app
sleep 1
[ -z "$(xdotool search --name 'Справка RYV_demo' 2>/dev/null || true)" ] || fail "help viewer open before the menu"
# "&Помощь" is the last item of the menu bar, "&Справка" the second of its menu.
xdotool mousemove 626 159 click 1
sleep 0.7
shot installed_help_menu
xdotool mousemove 653 202 click 1
HELP=$(wait_window '^Справка RYV_demo$')
sleep 1
shot installed_help
app_running || fail "the installed program ended"
# Without the help file the program shows a message box and no viewer, so
# the viewer itself says the file was found in the installed layout.

# The viewer shows text: dark pixels on its white page.
eval "$(xdotool getwindowgeometry --shell "$HELP")"
[ "$WIDTH" -gt 100 ] && [ "$HEIGHT" -gt 100 ] || fail "help viewer of ${WIDTH}x${HEIGHT}"
dark=$(convert "$SHOTS/installed_help.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage \
         -colorspace Gray -threshold 50% -negate -format '%[fx:round(mean*w*h)]' info:)
echo "help viewer ${WIDTH}x${HEIGHT} at ${X},${Y}: $dark dark pixels"
[ "$dark" -gt 500 ] || fail "the help viewer shows no text ($dark dark pixels)"
echo "installed help: 1 passed, 0 failed"
