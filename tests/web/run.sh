#!/bin/sh
# The web build in headless chromium, then in Firefox (in a window under Xvfb: headless it finds
# no GL driver here), against qm-capture's frames (make test-web). Extra arguments go to
# web_test.js, e.g. --bench 100.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
ref=$(mktemp -d)
trap 'rm -rf "$ref"' EXIT
trap 'exit 1' INT TERM
# Each time's tolerance is twice the difference measured between the two renderers there (a
# mean over 8 x 8 blocks, 0-255), at least 0.5: the eyes 0.12, the dot wall 0.72,
# the creeds' glow 2.31, the lathe's ray fan 3.72 (thin slivers rasterise differently). A
# wrong moment differs by 28 to 148; the dot wall with the colours of its lists replayed out
# of order differed by 3.90.
"$root/build/qm-capture" --at 45 --at 80 --at 200 --at 240 --out "$ref"
# The eyes at two other sizes, the bars beside and above the picture, with tolerances made the
# same way: 0.38 measured at 1024 x 600, 0.09 at 720 x 960 (that one also drawn after the page
# resized its canvas). With the scenes' viewports left unmapped they differed by 71 and 58.
sizes="1024x600 720x960"
for size in $sizes; do
  "$root/build/qm-capture" --size "$size" --at 45 --out "$ref/$size"
done
status=0
# Both browsers unless WEB_BROWSERS names one (say WEB_BROWSERS=chromium for a quicker run).
for browser in ${WEB_BROWSERS:-chromium firefox}; do
  echo "== $browser"
  run=""
  [ "$browser" = firefox ] && run="$root/tests/tools/with-xvfb"
  $run node "$root/tests/web/web_test.js" --web "$root/build-web" --ref "$ref" --browser "$browser" \
    --times 45:0.5,80:1.5,200:4.6,240:7.5 --sizes 1024x600:0.76,720x960:0.5 "$@" || status=1
done
exit $status
