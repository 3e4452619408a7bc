#!/bin/sh
# Builds build-deb/quiet-moss_<version>_<arch>.deb with Debian's own tools (dpkg-buildpackage,
# debhelper) from a copy of the checkout's files, so the checkout stays clean. The changelog
# entry is written here from the one version number (CMakeLists.txt) and the last commit's date.
set -eu
cd "$(dirname "$0")/../.."
version=$(tools/release/version.sh)
: "${SOURCE_DATE_EPOCH:=$(git log -1 --format=%ct)}"
export SOURCE_DATE_EPOCH
out=build-deb
stage=$out/quiet-moss-$version
rm -rf "$out" && mkdir -p "$stage"
git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf - | tar -xmf - -C "$stage"
cat >"$stage/debian/changelog" <<END
quiet-moss ($version) unstable; urgency=medium

  * Release $version.

 -- $(sed -n 's/^Maintainer: //p' debian/control)  $(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")
END
(cd "$stage" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" dpkg-buildpackage -b -us -uc) \
  >"$out/build.log" 2>&1 || { tail -n 40 "$out/build.log"; echo "make deb: see $out/build.log" >&2; exit 1; }
ls "$out"/quiet-moss_"$version"_*.deb
