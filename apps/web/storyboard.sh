#!/bin/sh
# The seek bar's previews: qm-capture's frame every EVERY seconds of the demo, each downscaled to
# W x H and laid in rows of COLUMNS on one JPEG sheet, with storyboard.json to say so.
# Usage: storyboard.sh QM_CAPTURE OUT_DIR
set -eu
capture=$1
out=$2
every=2 width=160 height=120 columns=12
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT

# The demo's length, in qm-capture's own words for a time past it.
end=$("$capture" --at 100000 --out "$frames" 2>&1 | sed -n 's/.*past the end of the demo (\([0-9.]*\) s).*/\1/p')
[ -n "$end" ] || { echo "storyboard.sh: qm-capture did not say where the demo ends" >&2; exit 1; }
# Names with leading zeros, so that the sheet takes them in time order.
set -- $(awk -v end="$end" -v every="$every" 'BEGIN { for (t = 0; t < end; t += every) printf "--at %04d ", t }')
count=$(($# / 2))
"$capture" "$@" --out "$frames"
ffmpeg -hide_banner -loglevel error -y -pattern_type glob -i "$frames/frame_*.png" \
  -vf "scale=$width:$height:flags=area,tile=${columns}x$(((count + columns - 1) / columns))" \
  -frames:v 1 -q:v 5 "$out/storyboard.jpg"
printf '{"image": "storyboard.jpg", "every": %s, "count": %s, "width": %s, "height": %s, "columns": %s}\n' \
  "$every" "$count" "$width" "$height" "$columns" > "$out/storyboard.json"
echo "storyboard: $count pictures, $(du -k "$out/storyboard.jpg" | cut -f1) KiB"
