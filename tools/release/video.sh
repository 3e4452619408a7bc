#!/bin/sh
# make video: dist/quiet_moss-<version>-1080p.mp4, the whole demo at 1920 x 1080 with its
# soundtrack for video sites at qm-capture's web quality, which puts its index (moov) before the
# frames (mdat) so that it plays from its first byte. VIDEO_FPS (default 30) sets the frame rate.
set -eu
cd "$(dirname "$0")/../.."
version=$(tools/release/version.sh)
fps=${VIDEO_FPS:-30}
video=dist/quiet_moss-$version-1080p.mp4
mkdir -p dist
started=$(date +%s)
build/qm-capture --size 1920x1080 --fps "$fps" --from 0 --to 309.4 --quality web --out "$video"
# The top-level boxes in order: the index must come before the frames.
order=$(python3 - "$video" <<'PY'
import struct, sys
with open(sys.argv[1], 'rb') as f:
    boxes = []
    while True:
        head = f.read(8)
        if len(head) < 8:
            break
        size, kind = struct.unpack('>I4s', head)
        if size == 1:
            size = struct.unpack('>Q', f.read(8))[0] - 8
        f.seek(size - 8, 1)
        boxes.append(kind.decode('latin-1'))
print(' '.join(boxes))
PY
)
case "$order" in
  *moov*mdat*) ;;
  *) echo "make video: the index is not at the front of $video ($order)" >&2; exit 1 ;;
esac
tools/release/sums.sh >/dev/null
echo "made $video: $(du -m "$video" | cut -f1) MB, boxes $order, $(($(date +%s) - started)) s"
