#!/usr/bin/env bash
# Installs what is needed, builds everything (tests, benchmarks, fuzz corpus replays) and runs
# the whole suite; then builds with AddressSanitizer + UndefinedBehaviorSanitizer and runs the
# fast tests again, and runs the runtime and network tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
jobs=$(nproc)
# No include may run up the layers.
python3 tools/check_layers.py

bash tools/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j "$jobs" -LE stress

bash tools/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DVEXALO_SANITIZE=ON -DVEXALO_BUILD_BENCH=OFF
# Full stacks on allocation, so that leak suppressions can name the library that leaked.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0 \
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -L fast

# ThreadSanitizer over the runtime, socket and threading tests.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXALO_SANITIZE_THREAD=ON \
  -DVEXALO_BUILD_BENCH=OFF -DVEXALO_BUILD_FUZZ=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target base_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build-tsan/tests/base_tests --gtest_brief=1

# The fuzz targets' seed corpora are replayed above as ordinary tests; here each target also gets
# a short libFuzzer run of its own.
bash fuzz/run.sh 10
