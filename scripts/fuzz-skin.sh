#!/usr/bin/env bash
# Fuzzes the library image mapper for a bounded time: builds the libFuzzer target with clang in
# build-fuzz/, seeds a corpus with well-formed images and runs it. Not part of ./test.sh.
# Usage: scripts/fuzz-skin.sh [seconds]   (default 180)
# A finding stops the run with a non-zero status and leaves crash-*/leak-*/timeout-* files in
# build-fuzz/fuzz/findings/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
seconds="${1:-180}"

./scripts/install-deps.sh --fuzz
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQJ_FUZZ=ON -DQJ_TESTS=OFF -DQJ_GUI=OFF >/dev/null
cmake --build build-fuzz -j2 --target qj_fuzz_map_library_image qj_fuzz_skin_seeds

corpus=build-fuzz/fuzz/corpus
findings=build-fuzz/fuzz/findings
mkdir -p "$corpus" "$findings"
build-fuzz/fuzz/qj_fuzz_skin_seeds "$corpus"
build-fuzz/fuzz/qj_fuzz_map_library_image "$corpus" \
    -dict=fuzz/map_library_image.dict -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
    -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/"
echo "fuzz-skin: no finding in ${seconds} s"
