#!/bin/sh
# Builds the browser version into build-web/: emscripten from Debian, zlib from Debian's source
# package (emscripten's own zlib port would download it), the data from the native build.
set -eu
cd "$(dirname "$0")/../.."
root=$(pwd)
out=$root/build-web
mkdir -p "$out/cache"

# zlib's sources from Debian's source package, through the machine's own apt sources.
zlib_dir=$out/cache/zlib
if [ ! -f "$zlib_dir/inflate.c" ]; then
  tools/debian-source.sh zlib "$out/cache/src"
  rm -rf "$zlib_dir" && mkdir -p "$zlib_dir"
  tar -xf "$out"/cache/src/zlib_*.orig.tar.* -C "$zlib_dir" --strip-components=1
fi

# Debian's emscripten finds its acorn here at -O1 and above.
export NODE_PATH=/usr/share/nodejs
emcmake cmake -S . -B "$out/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZLIB_SOURCE_DIR="$zlib_dir" >/dev/null
cmake --build "$out/cmake"

cp "$out/cmake/quiet_moss.js" "$out/cmake/quiet_moss.wasm" "$out/"
# The page: its markup, stylesheet and modules.
cp apps/web/page/* "$out/"
cp build/quiet_moss.zaf build/quiet_moss.mp3 "$out/"
# The system's media controls show the logo.
rsvg-convert --width=512 --output="$out/logo.png" data/pictures/logo.svg
apps/web/storyboard.sh build/qm-capture "$out"
echo "built $out: $(du -ch "$out"/quiet_moss.* $(ls apps/web/page | sed "s|^|$out/|") | tail -1 | cut -f1) to download"
