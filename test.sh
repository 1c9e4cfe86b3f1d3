#!/usr/bin/env bash
# Installs what is missing, builds everything in build-test/ and runs every test.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
cd "$root"

./scripts/install-deps.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQJ_TESTS=ON -DQJ_GUI=ON >/dev/null
cmake --build build-test
cd build-test
ctest --output-on-failure --timeout 300 -j "$(nproc)"
