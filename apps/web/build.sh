#!/bin/sh
# Builds the browser version into build-web/: emscripten from Debian, zlib from Debian's source
# package (emscripten's own zlib port would download it), the data from the native build.
set -eu
cd "$(dirname "$0")/../.."
root=$(pwd)
out=$root/build-web
mkdir -p "$out/cache"

# zlib's sources through a private deb-src list: the system's apt configuration is untouched.
zlib_dir=$out/cache/zlib
if [ ! -f "$zlib_dir/inflate.c" ]; then
  apt_dir=$out/cache/apt
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
    > "$apt_dir/sources.list"
  set -- -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/nonexistent \
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir" -o APT::Sandbox::User=root
  apt-get "$@" -qq update
  (cd "$apt_dir" && apt-get "$@" -qq source --download-only zlib)
  rm -rf "$zlib_dir" && mkdir -p "$zlib_dir"
  tar -xf "$apt_dir"/zlib_*.orig.tar.* -C "$zlib_dir" --strip-components=1
fi

# Debian's emscripten finds its acorn here at -O1 and above.
export NODE_PATH=/usr/share/nodejs
emcmake cmake -S . -B "$out/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZLIB_SOURCE_DIR="$zlib_dir" >/dev/null
cmake --build "$out/cmake"

cp "$out/cmake/quiet_moss.js" "$out/cmake/quiet_moss.wasm" "$out/"
cp apps/web/index.html "$out/"
cp build/quiet_moss.zaf build/quiet_moss.mp3 "$out/"
echo "built $out: $(du -ch "$out"/index.html "$out"/quiet_moss.* | tail -1 | cut -f1) to download"
