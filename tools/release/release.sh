#!/bin/sh
# dist/ for a release (make release): the Debian package, the Windows zip, the browser build as
# a zip any static host serves as it is, and SHA256SUMS; each named with the version.
set -eu
cd "$(dirname "$0")/../.."
version=$(tools/release/version.sh)
: "${SOURCE_DATE_EPOCH:=$(git log -1 --format=%ct)}"
export SOURCE_DATE_EPOCH
rm -rf dist && mkdir -p dist
cp build-deb/quiet-moss_"$version"_*.deb dist/
cp build-windows/quiet_moss-windows.zip "dist/quiet_moss-$version-windows.zip"
web=build-web/zip/quiet_moss-$version-web
rm -rf build-web/zip && mkdir -p "$web"
node apps/web/publish.js build-web/cache/stage "$web" >/dev/null
tools/release/zip-folder.sh "dist/quiet_moss-$version-web.zip" "$web"
tools/release/sums.sh
