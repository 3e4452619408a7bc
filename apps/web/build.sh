#!/bin/sh
# Builds the browser version into build-web/: emscripten from Debian, zlib from Debian's source
# package (emscripten's own zlib port would download it), the data from the native build.
set -eu
cd "$(dirname "$0")/../.."
root=$(pwd)
out=$root/build-web
mkdir -p "$out/cache"

# zlib's sources from Debian's source package, through the machine's own apt sources (or as
# check-reproducible put them in cache/src).
zlib_dir=$out/cache/zlib
if [ ! -f "$zlib_dir/inflate.c" ]; then
  ls "$out"/cache/src/zlib_*.orig.tar.* >/dev/null 2>&1 || tools/debian-source.sh zlib "$out/cache/src"
  rm -rf "$zlib_dir" && mkdir -p "$zlib_dir"
  tar -xf "$out"/cache/src/zlib_*.orig.tar.* -C "$zlib_dir" --strip-components=1
fi

# Debian's emscripten finds its acorn here at -O1 and above.
export NODE_PATH=/usr/share/nodejs
emcmake cmake -S . -B "$out/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZLIB_SOURCE_DIR="$zlib_dir" >/dev/null
cmake --build "$out/cmake"

# The browser's soundtrack at 128 kbit/s (docs/browser.md says why), rendered from the score
# again rather than re-encoded from the native 192 kbit/s copy.
mp3=$out/cache/quiet_moss-128.mp3
if [ ! -f "$mp3" ] || [ data/music/quiet_moss.score -nt "$mp3" ] || [ build/qm-synth -nt "$mp3" ]; then
  build/qm-synth data/music/quiet_moss.score "$mp3" --bitrate 128 >/dev/null
fi

# The seek bar's previews, rendered again only when the program or the archive changes.
board=$out/cache/storyboard
if [ ! -f "$board/storyboard.json" ] || [ build/qm-capture -nt "$board/storyboard.json" ] ||
   [ build/quiet_moss.zaf -nt "$board/storyboard.json" ]; then
  rm -rf "$board" && mkdir -p "$board"
  apps/web/storyboard.sh build/qm-capture "$board"
fi

# The files of this build, flat: the page's markup, stylesheet, modules and service worker, the
# program, its data, the previews, and the logo as the home screen's icon and the system's media
# controls' picture (its middle, on a black square).
stage=$out/cache/stage
rm -rf "$stage" && mkdir -p "$stage"
cp "$out/cmake/quiet_moss.js" "$out/cmake/quiet_moss.wasm" apps/web/page/* build/quiet_moss.zaf "$stage/"
cp "$mp3" "$stage/quiet_moss.mp3"
cp "$board/storyboard.json" "$board/storyboard.jpg" "$stage/"
for size in 192 512; do
  rsvg-convert -w 704 data/pictures/logo.svg | ffmpeg -loglevel error -y -f png_pipe -i - \
    -vf "crop=506:70:99:0,pad=512:512:3:221:black,scale=$size:$size" "$stage/icon-$size.png"
done
node apps/web/publish.js "$stage" "$out"
