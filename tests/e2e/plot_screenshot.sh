# After the fill, a spectrum window shows a full-height blue histogram with
# the two markers as dotted lines (green over blue) at plot columns 50 and 450.
source "$(dirname "$0")/lib.sh"
start_x
start_app
open_spectrum_window
sleep 2.5
shot spectrum
# The plot is the bounding box of the pure blue pixels.
geom=$(convert "$SHOTS/spectrum.png" -fill black +opaque '#0000FF' -trim -format '%w %h %X %Y' info:)
read -r w h x0 y0 <<<"$geom"
x0=${x0#+}; y0=${y0#+}
[ "$w" = 512 ] || fail "plot width $w"
[ "$h" = 298 ] || fail "off-scale bars reach rows 2..299: height $h"
for col in 50 450; do
  greens=0
  for row in 100 101 102 103 200 201; do
    [ "$(pixel spectrum $((x0 + col)) $((y0 + row)))" = 00ff00 ] && greens=$((greens + 1))
  done
  [ "$greens" -ge 2 ] || fail "no dotted marker at column $col"
done
[ "$(pixel spectrum $((x0 + 49)) $((y0 + 100)))" = 0000ff ] || fail "column 49 is not blue"
echo "e2e screenshot: 1 passed, 0 failed"
