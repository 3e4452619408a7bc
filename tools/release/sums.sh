#!/bin/sh
# SHA256SUMS for every file in dist/, in name order.
set -eu
cd "$(dirname "$0")/../../dist"
find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS
cat SHA256SUMS
