#!/bin/sh
# The project's version: the one number in the top-level project() of CMakeLists.txt.
sed -n 's/^project(quiet_moss VERSION \([0-9.]*\) .*/\1/p' "$(dirname "$0")/../../CMakeLists.txt"
