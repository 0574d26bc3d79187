#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (plus ASan/UBSan) and runs each one for a
# while on a copy of its seed corpus. Usage: fuzz/run.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEXALO_LIBFUZZER=ON -DVEXALO_SANITIZE=ON -DVEXALO_BUILD_TESTS=OFF -DVEXALO_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz
for target in build-fuzz/fuzz/fuzz_*; do
  name=${target##*/fuzz_}
  work=$(mktemp -d)
  cp -r "fuzz/corpus/$name/." "$work/"
  echo "== $name"
  "$target" -max_total_time="$seconds" -print_final_stats=1 "$work" 2>&1 | tail -3
  rm -rf "$work"
done
