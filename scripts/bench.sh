#!/usr/bin/env bash
# Builds the benchmarks in Release and runs every one of them. Each prints its figures as
# "name: value" lines after Google Benchmark's own table.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

./scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQJ_TESTS=OFF -DQJ_BENCH=ON -DQJ_GUI=ON >/dev/null
cmake --build build-bench
# The baseline of the parallel benchmark: the official openai SDK for Node.
if command -v npm >/dev/null 2>&1 && [ ! -d bench/node/node_modules/openai ]; then
    npm install --prefix bench/node --no-audit --no-fund --silent >/dev/null 2>&1 || echo "bench: npm install of the openai SDK failed"
fi
status=0
for bench in build-bench/bench/qj_bench_*; do
    [ -x "$bench" ] || continue
    echo "== $(basename "$bench")"
    "$bench" --benchmark_color=false "$@" || status=1
done
exit $status
