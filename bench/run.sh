#!/usr/bin/env bash
# Benchmarks (not tests): builds the Release tree, writes the benchmark files and times
# their composition through the public API, with the peak memory.   bench/run.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKVNTF_TESTS=OFF -DKVNTF_BENCH=ON >/dev/null
cmake --build build/release -j"$(nproc)" --target nitf-make-bench nitf-render-bench >/dev/null
out=build/release/bench
mkdir -p "$out"
[ -f "$out/c3_8192_rgb_512.ntf" ] || build/release/bin/nitf-make-bench "$out" >/dev/null
for f in "$out"/*.ntf; do
  build/release/bin/nitf-render-bench "$f" "$runs"
done
