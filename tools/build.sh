#!/usr/bin/env bash
# Configures and builds one build tree. Usage: tools/build.sh DIR [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
# Let ccache reuse objects across clones in other folders (CI builds a fresh clone).
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
ln -sf "$dir/compile_commands.json" compile_commands.json 2>/dev/null || true
