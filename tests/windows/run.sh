#!/bin/sh
# The Windows zip under Wine and Xvfb, against the native build (make test-windows): the same
# lines and statuses, music, lines in the caller's console, and the picture of a still moment
# against qm-capture's frame. Wine's prefix lives in build-windows/wine; Wine's own messages
# go to standard error, and only standard output is compared.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ -z "${QM_UNDER_XVFB:-}" ]; then
  exec timeout 600 "$root/tests/tools/with-xvfb" env QM_UNDER_XVFB=1 "$0" "$@"
fi
started=$(date +%s)
zip=$root/build-windows/quiet_moss-windows.zip
export WINEPREFIX="$root/build-windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
tmp=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$tmp"' EXIT
trap 'exit 1' INT TERM
. "$root/tests/tools/checks.sh"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "making Wine's prefix in $WINEPREFIX (once)"
  timeout 120 wine wineboot -i 2>>"$tmp/wine.log" || { cat "$tmp/wine.log"; exit 1; }
fi
timeout 60 wineserver -w

# The zip as a user unpacks it; a copy without the archive; the native program beside the same
# data (no soundtrack: it is never looked for in silent mode, and its absence is no line).
mkdir -p "$tmp/app" "$tmp/bare" "$tmp/native" "$tmp/elsewhere"
(cd "$tmp/app" && unzip -q "$zip")
app=$tmp/app/quiet_moss
cp "$app"/*.exe "$app"/*.dll "$tmp/bare/"
ln -s "$root/build/quiet_moss.zaf" "$root/build/quiet_moss.mp3" "$tmp/native/"
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

# 0. The program and DLLs carry no time stamp in their PE headers (strip would write the time it
# ran), so that the same sources give the same zip.
for pe in "$app"/*.exe "$app"/*.dll; do
  header=$(od -An -tu4 -j60 -N4 "$pe" | tr -d ' ')
  stamp=$(od -An -tu4 -j$((header + 8)) -N4 "$pe" | tr -d ' ')
  if [ "$stamp" = 0 ]; then pass "$(basename "$pe"): no time stamp"; else fail "$(basename "$pe"): time stamp $stamp"; fi
done

# win OUT EXE ARGS... / native OUT ARGS...: run from another folder, stdout with Unix line
# ends into OUT, the exit status into $status.
win() {
  out=$1 exe=$2
  shift 2
  status=0
  (cd "$tmp/elsewhere" && timeout 60 wine "$exe" "$@" >"$out.raw" 2>>"$tmp/wine.log") || status=$?
  tr -d '\r' <"$out.raw" >"$out"
}
native() {
  out=$1
  shift
  status=0
  (cd "$tmp/native" && timeout 60 "$root/build/quiet_moss" "$@" >"$out") || status=$?
}
# NaN's sign is the C library's choice; a bare number is an entry switch's demo time.
normalise() { sed -E 's/[+-]nan/nan/g; s/^[+-][0-9]+\.[0-9]{3}$/(switch)/' "$1"; }
# same NAME WIN: WIN agrees line for line with the native output in $tmp/native.norm.
same() {
  normalise "$2" >"$tmp/win.norm"
  if diff -u "$tmp/native.norm" "$tmp/win.norm" >"$tmp/diff"; then
    pass "$1"
  else
    fail "$1: the lines differ from the native program's:"
    cat "$tmp/diff"
  fi
}

# 1. The timing table, the switches and the end, as natively; every switch before the end.
win "$tmp/table.win" "$app/quiet_moss.exe" -window -silent -debug 0 12 0
win_status=$status
native "$tmp/table.native" -window -silent -debug 0 12 0
[ "$win_status" -eq 0 ] && [ "$status" -eq 0 ] || fail "debug run: status $win_status under Wine, $status natively"
normalise "$tmp/table.native" >"$tmp/native.norm"
same "debug run -window -silent -debug 0 12 0 ($(wc -l <"$tmp/table.win") lines)" "$tmp/table.win"
late=$(awk '/^[+-][0-9]+\.[0-9]+$/ && ($1 < 1.455 || $1 >= 12)' "$tmp/table.win")
[ -z "$late" ] || fail "switches outside 1.455 to 12 s: $late"

# 2. No archive: status 1, only the option lines.
win "$tmp/bare.win" "$tmp/bare/quiet_moss.exe" -window -silent
win_status=$status
(cd "$tmp/elsewhere" && timeout 60 "$root/build/quiet_moss" -window -silent >"$tmp/bare.native") && status=0 || status=$?
normalise "$tmp/bare.native" >"$tmp/native.norm"
[ "$win_status" -eq 1 ] && [ "$status" -eq 1 ] || fail "missing archive: status $win_status under Wine, $status natively"
same "missing archive ends with status 1 and no line of its own" "$tmp/bare.win"

# 3. No audio device: the sound library's message and status 1.
export SDL_AUDIODRIVER=no-such-driver
win "$tmp/audio.win" "$app/quiet_moss.exe" -window
win_status=$status
native "$tmp/audio.native" -window
[ "$win_status" -eq 1 ] && [ "$status" -eq 1 ] || fail "no audio device: status $win_status under Wine, $status natively"
normalise "$tmp/audio.native" >"$tmp/native.norm"
grep -q '^ZOKA_PLAYER: ' "$tmp/audio.native" || fail "the native program gave no ZOKA_PLAYER line"
same "no audio device gives the ZOKA_PLAYER line" "$tmp/audio.win"

# 4. With sound: the dummy driver plays through to the end as natively; the disk driver's mix
# holds the music, starting with entry 1 (1.455 s) and not before.
export SDL_AUDIODRIVER=dummy
win "$tmp/dummy.win" "$app/quiet_moss.exe" -window -debug 0 2 0
win_status=$status
native "$tmp/dummy.native" -window -debug 0 2 0
[ "$win_status" -eq 0 ] && [ "$status" -eq 0 ] || fail "dummy audio: status $win_status under Wine, $status natively"
normalise "$tmp/dummy.native" >"$tmp/native.norm"
same "SDL_AUDIODRIVER=dummy plays as natively" "$tmp/dummy.win"
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$(windows_path "$tmp/mix.raw") SDL_DISKAUDIODELAY=8 \
  win "$tmp/disk.win" "$app/quiet_moss.exe" -window -debug 0 3.5 0
first=$(od -An -v -td2 -w4 "$tmp/mix.raw" 2>/dev/null |
  awk '{ if ($1 > 64 || $1 < -64 || $2 > 64 || $2 < -64) { printf "%.3f", (NR - 1) / 44100; exit } }')
if [ "$status" -ne 0 ] || [ -z "$first" ]; then
  fail "disk audio: status $status, no music in the mix"
elif awk -v t="$first" 'BEGIN { exit !(t >= 1.455) }'; then
  pass "the music plays from ${first} s"
else
  fail "the music began at $first s, before entry 1"
fi
export SDL_AUDIODRIVER=dummy

# 5. Started by a console program with no handles of its own to pass (as cmd starts a GUI
# program), the lines reach that console. script gives the launcher a terminal, so that Wine
# gives it a console; Wine draws a space as a cursor step.
x86_64-w64-mingw32-gcc-win32 -O2 -o "$tmp/console_launch.exe" "$root/tests/windows/console_launch.c"
status=0
(cd "$tmp/elsewhere" && timeout 60 script -qec "wine '$tmp/console_launch.exe' '$(windows_path "$app/quiet_moss.exe")' \
  -window -silent -debug 0 0.5 0" "$tmp/console.typescript" >/dev/null 2>&1) || status=$?
sed 's/\x1b\[1C/ /g; s/\x1b\[[0-9;?]*[A-Za-z]//g' "$tmp/console.typescript" | tr -d '\r' >"$tmp/console.lines"
if [ "$status" -eq 0 ] && grep -qx 'QM_x: start: +0.000, end: +0.500, offset: 0;' "$tmp/console.lines" &&
   grep -qx 'QM_x: end of demo time.' "$tmp/console.lines"; then
  pass "lines reach the console of the program that started it"
else
  fail "console: status $status, lines seen:"; cat "$tmp/console.lines"
fi

# 6. The picture. From 4.0 s to 4.7 s the tiles stand still, and the last frame before the
# end at 4.6 s stays a second: the window is shot every tenth of a second and the shot from
# half a second before the exit is compared with qm-capture's frame of 4.6 s, as the mean
# difference of 8 x 8 block means (0-255). Measured: 0.00 to 0.01 (both are Mesa's llvmpipe);
# the tolerance is twice that, at least 0.5. The tiles' colours swapped in the Windows build
# differ by 22.65; the frame of another still moment (7.5 s) must differ by more than the
# tolerance too, or the check could not fail.
tolerance=0.5
"$root/build/qm-capture" --at 4.6 --at 7.5 --out "$tmp/ref" >/dev/null 2>&1
(cd "$tmp/elsewhere" && exec timeout 60 wine "$app/quiet_moss.exe" -window -silent -debug 0 4.6 0 \
  >/dev/null 2>>"$tmp/wine.log") &
pid=$!
wid=$(timeout 60 xdotool search --sync --name "quiet moss" | head -n 1)
n=0
while kill -0 "$pid" 2>/dev/null; do
  xwd -id "$wid" -silent >"$tmp/shot_$n.xwd" 2>/dev/null && date +%s.%N >"$tmp/shot_$n.t"
  n=$((n + 1))
  sleep 0.1
done
ended=$(date +%s.%N)
status=0
wait "$pid" || status=$?
shot=""
for t in "$tmp"/shot_*.t; do
  [ -f "$t" ] || continue
  if awk -v t="$(cat "$t")" -v e="$ended" 'BEGIN { exit !(t <= e - 0.4 && t >= e - 0.9) }'; then
    shot=${t%.t}.xwd
  fi
done
difference() {
  ffmpeg -loglevel error -i "$1" -i "$2" -filter_complex \
    "[0]scale=80:60:flags=area,format=gbrp[a];[1]scale=80:60:flags=area,format=gbrp[b];[a][b]blend=all_mode=difference" \
    -f rawvideo -pix_fmt rgb24 - | od -An -v -tu1 | awk '{ for (i = 1; i <= NF; i++) { s += $i; n++ } } END { printf "%.2f", s / n }'
}
if [ "$status" -ne 0 ] || [ -z "$shot" ]; then
  fail "picture run: status $status, $n shots, none from the last second"
else
  right=$(difference "$shot" "$tmp/ref/frame_4.6.png")
  wrong=$(difference "$shot" "$tmp/ref/frame_7.5.png")
  if awk -v r="$right" -v w="$wrong" -v x="$tolerance" 'BEGIN { exit !(r < x && w > x) }'; then
    pass "the window shows qm-capture's frame of 4.6 s: difference $right (tolerance $tolerance; 7.5 s: $wrong)"
  else
    fail "picture: difference $right from the frame of 4.6 s (tolerance $tolerance), $wrong from 7.5 s"
    cp "$shot" "$root/build-windows/test-shot.xwd" && echo "the shot: build-windows/test-shot.xwd"
  fi
fi

echo "test-windows: $failures failed, in $(($(date +%s) - started)) s"
[ "$failures" -eq 0 ]
