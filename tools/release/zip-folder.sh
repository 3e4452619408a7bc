#!/bin/sh
# zip-folder.sh ZIP DIR: DIR, under its own name, as ZIP with the same bytes for the same files:
# names in a fixed order, every time SOURCE_DATE_EPOCH (the last commit's, when unset), modes
# 644 or 755, no extra fields.
set -eu
zip=$(realpath -m "$1")
dir=$(realpath "$2")
: "${SOURCE_DATE_EPOCH:=$(git -C "$(dirname "$0")" log -1 --format=%ct)}"
find "$dir" -type d -exec chmod 755 {} +
find "$dir" -type f -exec chmod go-w,a+r {} +
find "$dir" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
rm -f "$zip"
cd "$(dirname "$dir")"
find "$(basename "$dir")" | LC_ALL=C sort | TZ=UTC zip -q -X -@ "$zip"
