#!/bin/sh
# make check-reproducible: `make release` in two clean clones of the last commit, in folders of
# different names, and their SHA256SUMS compared; diffoscope explains each file that differs.
# Both clones build everything from nothing (the Windows DLLs included), so this takes long.
set -eu
cd "$(dirname "$0")/../.."
work=$(pwd)/build-reproducible
rm -rf "$work" && mkdir -p "$work"
started=$(date +%s)
# Debian's source packages, fetched once: both clones build from the very same tarballs, even
# should the mirror move on between their fetches.
sources=$work/sources
for package in zlib libsdl1.2 mpg123; do
  tools/debian-source.sh "$package" "$sources" >/dev/null
done
# Side by side: the two builds share the machine, as two builders would not, and still must agree.
for clone in first second-build; do
  git clone -q --no-local . "$work/$clone"
  mkdir -p "$work/$clone/build-web/cache/src" "$work/$clone/build-windows/cache/src"
  cp "$sources"/zlib_*.orig.tar.* "$work/$clone/build-web/cache/src/"
  cp "$sources"/libsdl1.2_*.orig.tar.* "$sources"/mpg123_*.orig.tar.* "$work/$clone/build-windows/cache/src/"
  echo "check-reproducible: make release in $work/$clone"
  (make -C "$work/$clone" release >"$work/$clone.log" 2>&1; echo $? >"$work/$clone.status") &
done
wait
for clone in first second-build; do
  [ "$(cat "$work/$clone.status")" = 0 ] && continue
  tail -n 30 "$work/$clone.log"
  echo "make release failed: see $work/$clone.log" >&2
  exit 1
done
if cmp -s "$work/first/dist/SHA256SUMS" "$work/second-build/dist/SHA256SUMS"; then
  cat "$work/first/dist/SHA256SUMS"
  echo "check-reproducible: the same bytes, $(($(date +%s) - started)) s"
  exit 0
fi
diff "$work/first/dist/SHA256SUMS" "$work/second-build/dist/SHA256SUMS" || true
for file in $(cd "$work/first/dist" && ls); do
  cmp -s "$work/first/dist/$file" "$work/second-build/dist/$file" && continue
  diffoscope --text "$work/diffoscope-$file.txt" "$work/first/dist/$file" \
    "$work/second-build/dist/$file" >/dev/null 2>&1 || true
  echo "check-reproducible: $file differs: $work/diffoscope-$file.txt"
  head -n 40 "$work/diffoscope-$file.txt"
done
exit 1
