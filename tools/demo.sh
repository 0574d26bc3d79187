#!/usr/bin/env bash
# Installs what is needed, builds, and runs the demo: the program's version and the runtime
# benchmark (event queues against GLib's main loop on this machine).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DVEXALO_BUILD_TESTS=OFF \
  -DVEXALO_BUILD_FUZZ=OFF
./build-release/src/app/vexalo --version
./build-release/bench/runtime_bench --benchmark_min_time=0.2
./build-release/bench/socket_bench --benchmark_min_time=0.2
