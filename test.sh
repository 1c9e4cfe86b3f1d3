#!/usr/bin/env bash
# Installs what is missing, builds everything in build-test/ and runs every test; builds every fuzz
# target in build-fuzz/ and runs its saved findings and seeds once (QJ_FUZZ=0 skips that part); then
# builds the Windows programs in build-windows/ and runs their tests under Wine (QJ_WINDOWS=0 skips
# that part).
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
cd "$root"

./scripts/install-deps.sh --fuzz
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQJ_TESTS=ON -DQJ_GUI=ON >/dev/null
cmake --build build-test
(cd build-test && ctest --output-on-failure --timeout 300 -j "$(nproc)")

# The fuzz targets are built and their saved inputs replayed, so that none of them can rot unseen.
if [ "${QJ_FUZZ:-1}" != "0" ]; then
    started=$SECONDS
    ./scripts/fuzz.sh --replay
    echo "test.sh: fuzz targets built and replayed in $((SECONDS - started)) s"
fi

if [ "${QJ_WINDOWS:-1}" = "0" ]; then
    exit 0
fi
started=$SECONDS
./scripts/build-windows.sh
# The Windows programs run as on our users' Chinese Windows, under code page 936: every Wine script
# sets the locale zh_CN.UTF-8 (scripts/wine-env.sh), which install-deps.sh generates.
# The Wine prefix of these tests lives in the build folder; only its own Wine server is stopped at
# the end, whatever else runs Wine on this machine.
prefix="$root/build-windows/wineprefix"
# The Linux peers the Windows tests reach over loopback (a TLS server, tinyproxy), stopped by the
# ids their start wrote down.
peers="$root/build-windows/peers"
trap '"$root/scripts/linux-peers.sh" stop "$peers"; "$root/scripts/wine-prefix.sh" stop "$prefix"' EXIT
QJ_TLS_SERVER="$root/build-test/tests/http/qj_http_tls_peer" ./scripts/linux-peers.sh start "$peers"
# A Windows program reads the file through drive Z:, Wine's view of the Linux root.
export QJ_PEERS="Z:${peers//\//\\}\\peers.txt"
./scripts/wine-prefix.sh create "$prefix"
# The native window's tests need an X display: a private Xvfb for the whole run, stopped after
# the prefix's Wine server (which holds a connection to it) has ended. The prefix's Wine session
# starts before the first test and ends after the last (see wine-prefix.sh).
(cd build-windows && WINEDEBUG=-all "$root/scripts/with-xvfb.sh" bash -c \
    'status=0; "$2" start "$3"; ctest --output-on-failure --timeout 300 -j "$1" || status=$?; "$2" stop "$3"; exit $status' \
    ctest-under-xvfb "$(($(nproc) * 2))" "$root/scripts/wine-prefix.sh" "$prefix")
echo "test.sh: Windows build and tests under Wine took $((SECONDS - started)) s"
