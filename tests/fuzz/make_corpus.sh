#!/bin/sh
# Remakes the seed archives in tests/fuzz/corpus with `zaf pack`: good archives of each
# kind, then cuts and stored-size edits of the full one. Usage: make_corpus.sh [BUILD_DIR]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
zaf=${1:-$here/../../build}/zaf
out=$here/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

ffmpeg -loglevel error -f lavfi -i testsrc2=size=16x8 -frames:v 1 -pix_fmt rgb24 "$work/wide.png"
ffmpeg -loglevel error -f lavfi -i color=c=0x6b8e23:size=4x4 -frames:v 1 -pix_fmt rgb24 "$work/dot.png"
printf 'v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 1\nf 1 2 3 4\nf -1 -2 -3\n' >"$work/shape.obj"
printf '' >"$work/none.obj"
printf 'a scroll text for the seed archives\n' >"$work/text.txt"

pack() {   # pack NAME MANIFEST-LINES...
  name=$1; shift
  printf '%s\n' "$@" >"$work/$name.txt"
  "$zaf" pack "$out/$name.zaf" "$work/$name.txt"
}
pack full 'wide picture wide.png 8x4' 'shape mesh shape.obj' 'text data text.txt' \
  'dot picture dot.png 4x4'
pack empty
pack picture 'wide picture wide.png 16x8'
pack mesh 'shape mesh shape.obj' 'none mesh none.obj'
pack data 'text data text.txt'

full=$out/full.zaf
size=$(stat -c %s "$full")
for cut in 3 12 16 40 72 128 200 240 300 $((size - 1)); do
  head -c "$cut" "$full" >"$out/full-cut-$cut.zaf"
done
# put32 FILE OFFSET VALUE: a little-endian word written in place.
put32() {
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($3 & 255)) $(($3 >> 8 & 255)) \
    $(($3 >> 16 & 255)) $(($3 >> 24 & 255)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
cp "$full" "$out/full-small-size.zaf" && put32 "$out/full-small-size.zaf" 60 100
cp "$full" "$out/full-large-size.zaf" && put32 "$out/full-large-size.zaf" 60 1000000
cp "$full" "$out/full-wrong-type.zaf" && put32 "$out/full-wrong-type.zaf" 56 15
cp "$full" "$out/full-big-count.zaf" && put32 "$out/full-big-count.zaf" 12 4000000000
