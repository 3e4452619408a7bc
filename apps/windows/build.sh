#!/bin/sh
# Builds build-windows/quiet_moss-windows.zip: the demo cross-built with Debian's mingw-w64, SDL
# and libmpg123 built from Debian's source packages as DLLs (cached under build-windows/cache),
# zlib linked from Debian's mingw package, the data from the native build.
set -eu
cd "$(dirname "$0")/../.."
root=$(pwd)
out=$root/build-windows
cache=$out/cache
prefix=$cache/prefix
host=x86_64-w64-mingw32
jobs=$(nproc)
mkdir -p "$cache/src" "$prefix/bin" "$prefix/lib" "$prefix/include"
# The DLLs carry neither the folder they were built in nor the time they were linked.
dll_flags="CFLAGS=-g -O2 -ffile-prefix-map=$cache=."
dll_link="LDFLAGS=-Wl,--no-insert-timestamp"

for data in build/quiet_moss.zaf build/quiet_moss.mp3; do
  if [ ! -f "$data" ]; then
    echo "$data is missing: the native build makes the data (make data)" >&2
    exit 1
  fi
done

# Unpacks a source package's upstream tarball into $cache/<name>, fetching it the first time.
unpack() {
  if ! ls "$cache/src/$1"_*.orig.tar.* >/dev/null 2>&1; then
    tools/debian-source.sh "$1" "$cache/src"
  fi
  rm -rf "${cache:?}/$2" && mkdir -p "$cache/$2"
  tar -xf "$(ls "$cache/src/$1"_*.orig.tar.* | tail -n 1)" -C "$cache/$2" --strip-components=1
}

# SDL 1.2: standard output stays with the program (no stdout.txt beside it).
if [ ! -f "$prefix/lib/libSDLmain.a" ]; then
  echo "building SDL for Windows (once)"
  unpack libsdl1.2 sdl
  (cd "$cache/sdl" && ./configure -q --host=$host --prefix="$prefix" --disable-static --enable-shared \
     --disable-stdio-redirect --disable-nasm "$dll_flags" "$dll_link" >"$cache/sdl.log" 2>&1 &&
   make -j"$jobs" >>"$cache/sdl.log" 2>&1 && make install >>"$cache/sdl.log" 2>&1) ||
    { echo "SDL's build failed: see $cache/sdl.log" >&2; exit 1; }
fi

# libmpg123 alone: the player, its output library and their modules are not needed.
if [ ! -f "$prefix/include/mpg123.h" ]; then
  echo "building libmpg123 for Windows (once)"
  unpack mpg123 mpg123
  (cd "$cache/mpg123" && ./configure -q --host=$host --prefix="$prefix" --disable-static --enable-shared \
     --disable-modules --with-audio=dummy --with-default-audio=dummy --disable-network "$dll_flags" "$dll_link" \
     >"$cache/mpg123.log" 2>&1 &&
   make -j"$jobs" src/libmpg123/libmpg123.la >>"$cache/mpg123.log" 2>&1) ||
    { echo "libmpg123's build failed: see $cache/mpg123.log" >&2; exit 1; }
  cp "$cache/mpg123/src/libmpg123/.libs/libmpg123-0.dll" "$prefix/bin/"
  cp "$cache/mpg123/src/libmpg123/.libs/libmpg123.dll.a" "$prefix/lib/"
  cp "$cache/mpg123/COPYING" "$prefix/mpg123-COPYING"
  cp "$cache/mpg123/src/libmpg123/fmt123.h" "$cache/mpg123/src/libmpg123/mpg123.h" "$prefix/include/"
fi
[ -f "$prefix/SDL-COPYING" ] || cp "$cache/sdl/COPYING" "$prefix/SDL-COPYING"

cmake -S . -B "$out/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/apps/windows/mingw.cmake" -DQM_WINDOWS_PREFIX="$prefix" >/dev/null
cmake --build "$out/cmake"

# The zip holds one folder: the program, its DLLs with their licences, the data, a README.
stage=$out/zip/quiet_moss
rm -rf "$out/zip" && mkdir -p "$stage"
cp "$out/cmake/quiet_moss.exe" "$prefix/bin/SDL.dll" "$prefix/bin/libmpg123-0.dll" "$stage/"
# strip rewrites the PE header with the time it runs at, unless SOURCE_DATE_EPOCH names one:
# 0, as ld's --no-insert-timestamp left it.
SOURCE_DATE_EPOCH=0 $host-strip "$stage"/*.exe "$stage"/*.dll
cp build/quiet_moss.zaf build/quiet_moss.mp3 "$stage/"
# Windows' editors want CRLF line ends.
for text in apps/windows/README.txt:README.txt "$prefix/SDL-COPYING:SDL-COPYING.txt" \
            "$prefix/mpg123-COPYING:libmpg123-COPYING.txt"; do
  sed 's/\r*$/\r/' "${text%%:*}" > "$stage/${text##*:}"
done
tools/release/zip-folder.sh "$out/quiet_moss-windows.zip" "$stage"
echo "built $out/quiet_moss-windows.zip: $(du -k "$out/quiet_moss-windows.zip" | cut -f1) KiB"
