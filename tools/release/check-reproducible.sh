#!/bin/sh
# make check-reproducible: `make release` in two clean clones of the last commit, in folders of
# different names, and their SHA256SUMS compared; diffoscope explains each file that differs.
# Both clones build everything from nothing (the Windows DLLs included), so this takes long.
set -eu
cd "$(dirname "$0")/../.."
work=$(pwd)/build-reproducible
rm -rf "$work" && mkdir -p "$work"
started=$(date +%s)
# Side by side: the two builds share the machine, as two builders would not, and still must agree.
for clone in first second-build; do
  git clone -q --no-local . "$work/$clone"
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
