#!/usr/bin/env bash
# Cross-builds the Windows program (qingjian.exe) and the Windows test programs with MinGW-w64
# into build-windows/ (another folder with -B DIR). Extra arguments go to the build tool, e.g.
#   scripts/build-windows.sh qj_text_tests
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

build="$root/build-windows"
if [ "${1:-}" = "-B" ]; then
    build="$2"
    shift 2
fi
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    ./scripts/install-deps.sh
fi
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Configured on first use, and again for a folder configured before the test servers needed
# cpp-httplib's single header.
if [ ! -f "$build/build.ninja" ] || ! grep -q '^QJ_HTTPLIB_DIR:' "$build/CMakeCache.txt" 2>/dev/null; then
    httplib="$(./scripts/httplib-header.sh "$build/httplib")"
    cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DQJ_TESTS=ON -DQJ_HTTPLIB_DIR="$httplib" "${launcher[@]}" >/dev/null
fi
cmake --build "$build" -j "${QJ_JOBS:-$(nproc)}" ${1:+--target "$@"}
