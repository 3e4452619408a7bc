#!/bin/sh
# The Debian package (make test-package): lintian passes it with no error; it installs; the
# installed demo, started from another folder, prints the lines build/quiet_moss prints;
# qm-capture and zaf work from the PATH on the installed data; removing it leaves nothing;
# `make install` puts the same files in place; the desktop entry and AppStream data validate.
# Installs and removes the package on this machine, as root or through sudo.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ -z "${QM_UNDER_XVFB:-}" ]; then
  exec timeout 900 "$root/tests/tools/with-xvfb" env QM_UNDER_XVFB=1 "$0" "$@"
fi
started=$(date +%s)
version=$("$root/tools/release/version.sh")
deb=$(ls "$root"/build-deb/quiet-moss_"$version"_*.deb)
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
trap 'exit 1' INT TERM
. "$root/tests/tools/checks.sh"
check() { name=$1; shift; if "$@" >"$tmp/out" 2>&1; then pass "$name"; else fail "$name:"; cat "$tmp/out"; fi; }

# Every file and folder the package may touch, but for dpkg's and apt's own records and caches.
snapshot() {
  find /usr /etc /opt /var -xdev \( -path /var/lib/dpkg -o -path /var/cache -o -path /var/log \
    -o -path /var/lib/apt -o -path /var/tmp -o -path /var/lib/ucf \) -prune -o -print |
    LC_ALL=C sort >"$1"
}
# The entry switches' demo times come from the real clock; the rest is byte for byte.
normalise() { sed -E 's/^[+-][0-9]+\.[0-9]{3}$/(switch)/' "$1"; }

if $sudo dpkg -s quiet-moss >/dev/null 2>&1; then
  echo "quiet-moss is installed already: remove it first (dpkg -r quiet-moss)" >&2
  exit 1
fi

lintian --fail-on error --tag-display-limit 0 "$deb" >"$tmp/lintian" 2>&1 && status=0 || status=$?
if [ "$status" -eq 0 ]; then pass "lintian: no error"; else fail "lintian:"; fi
cat "$tmp/lintian"

snapshot "$tmp/before"
check "dpkg -i" $sudo dpkg -i "$deb"

# The launcher on the PATH, from a folder that holds nothing of the demo.
mkdir -p "$tmp/elsewhere" "$tmp/native"
ln -s "$root/build/quiet_moss.zaf" "$tmp/native/"
(cd "$tmp/elsewhere" && SDL_AUDIODRIVER=dummy timeout 120 /usr/games/quiet_moss -window -silent -debug 0 5 0 \
  >"$tmp/installed.txt" 2>/dev/null) && status=0 || status=$?
(cd "$tmp/native" && SDL_AUDIODRIVER=dummy timeout 120 "$root/build/quiet_moss" -window -silent -debug 0 5 0 \
  >"$tmp/native.txt" 2>/dev/null) || true
normalise "$tmp/native.txt" >"$tmp/native.norm"
normalise "$tmp/installed.txt" >"$tmp/installed.norm"
if [ "$status" -eq 0 ] && [ -s "$tmp/native.norm" ] && diff -u "$tmp/native.norm" "$tmp/installed.norm" >"$tmp/diff"; then
  pass "installed demo from another folder: $(wc -l <"$tmp/installed.txt") lines as build/quiet_moss prints them"
else
  fail "installed demo (status $status), its lines against build/quiet_moss's:"
  diff -u "$tmp/native.norm" "$tmp/installed.norm" | tail -n 20
fi

check "qm-capture --version" sh -c "[ \"\$(qm-capture --version)\" = 'qm-capture $version' ]"
check "zaf --version" sh -c "[ \"\$(zaf --version)\" = 'zaf $version' ]"
"$root/build/qm-capture" --at 0.5 --out "$tmp/ref" >/dev/null
check "qm-capture draws from the installed data" sh -c \
  "cd '$tmp/elsewhere' && qm-capture --at 0.5 --out frames && cmp frames/frame_0.5.png '$tmp/ref/frame_0.5.png'"
check "zaf lists the installed archive" sh -c \
  "zaf list /usr/share/games/quiet-moss/quiet_moss.zaf | grep -q '^logo '"
check "man pages" sh -c "for page in quiet_moss qm-capture zaf; do man -w \$page >/dev/null || exit 1; done"

check "dpkg -r" $sudo dpkg -r quiet-moss
snapshot "$tmp/after"
if diff "$tmp/before" "$tmp/after" >"$tmp/left"; then
  pass "nothing left after dpkg -r"
else
  fail "dpkg -r left files behind, or took some:"; cat "$tmp/left"
fi
if $sudo dpkg -s quiet-moss 2>/dev/null | grep -q '^Status:'; then
  fail "dpkg still holds a record of quiet-moss: $($sudo dpkg -s quiet-moss | grep '^Status:')"
else
  pass "dpkg holds no record of quiet-moss"
fi

# make install puts in place the files the package holds (the package adds its changelog and
# copyright, and compresses the man pages).
make -C "$root" --no-print-directory install PREFIX=/usr DESTDIR="$tmp/destdir" >"$tmp/install.log" 2>&1 ||
  { fail "make install:"; tail -n 20 "$tmp/install.log"; }
(cd "$tmp/destdir" && find . ! -type d | sed 's/^\.//') | LC_ALL=C sort >"$tmp/installed-files"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's/^\.//; s/\.gz$//' |
  grep -v '^/usr/share/doc/quiet-moss/' | LC_ALL=C sort >"$tmp/package-files"
if [ -s "$tmp/package-files" ] && diff -u "$tmp/package-files" "$tmp/installed-files" >"$tmp/diff"; then
  pass "make install: the $(wc -l <"$tmp/installed-files") files the package holds"
else
  fail "make install and the package differ:"; cat "$tmp/diff"
fi
check "desktop-file-validate" desktop-file-validate "$tmp"/destdir/usr/share/applications/*.desktop
check "appstreamcli validate" appstreamcli validate --no-net "$tmp"/destdir/usr/share/metainfo/*.xml

echo "make test-package: $failures failure(s), $(($(date +%s) - started)) s"
[ "$failures" -eq 0 ]
