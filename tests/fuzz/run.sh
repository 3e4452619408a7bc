#!/bin/sh
# A fuzzing campaign over the archive reader and decoders: libFuzzer with ASan and UBSan,
# seeded from tests/fuzz/corpus, for FUZZ_SECONDS (default 600). New inputs collect in
# build-fuzz/corpus, anything that crashes in build-fuzz/findings (status 1 then).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-600}

mkdir -p "$build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" --target zaf_fuzz
mkdir -p "$build/corpus" "$build/findings"
log="$build/fuzz.log"
status=0
"$build/zaf_fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
  -artifact_prefix="$build/findings/" "$build/corpus" "$root/tests/fuzz/corpus" \
  >"$log" 2>&1 || status=$?
tail -n 25 "$log"
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
echo "zaf_fuzz: ${runs:-?} runs in ${seconds} s, ${rate:-?} exec/s, findings in $build/findings"
exit $status
