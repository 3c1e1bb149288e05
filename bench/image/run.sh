#!/usr/bin/env bash
# Builds q40prog-cli and the benchmark optimised (build-bench/, no windows) and runs it.
# Arguments go to the benchmark: --reps N, --keep DIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${Q40_BENCH_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQ40_GUI=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target image_bench q40prog-cli >/dev/null
exec "$build/bench/image/image_bench" "$@"
