#!/usr/bin/env bash
# Installs what is missing, builds 青笺 and starts it from dist/, the portable program folder.
# Arguments are passed to the program (for example: ./run.sh --batch).
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
cd "$root"

./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQJ_TESTS=OFF -DQJ_GUI=ON >/dev/null
cmake --build build --target qingjian
cmake --install build --prefix dist >/dev/null

if [ "${1:-}" != "--batch" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "青笺: no display found (DISPLAY is not set). Start it on a desktop, or use the window-less mode: ./run.sh --batch" >&2
    exit 1
fi
exec "$root/dist/qingjian" "$@"
