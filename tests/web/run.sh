#!/bin/sh
# The web build in headless chromium against qm-capture's frames (make test-web). Extra arguments
# go to web_test.js, e.g. --bench 100.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
ref=$(mktemp -d)
trap 'rm -rf "$ref"' EXIT
trap 'exit 1' INT TERM
"$root/build/qm-capture" --at 30.5 --at 80 --at 200 --out "$ref"
node "$root/tests/web/web_test.js" --web "$root/build-web" --ref "$ref" --times 30.5,80,200 "$@"
