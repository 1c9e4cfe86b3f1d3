#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix (created on first use):
#
#   wine-run.sh --prefix DIR PROGRAM.exe [ARGS...]
#
# The cross build's emulator: ctest and gtest_discover_tests start every Windows test through it.
# The program's exit code is this script's exit code (an error code is also named on standard
# error). Standard input, output and error are passed through untouched (Wine writes a program's
# bytes to a pipe as they are); a TERM or INT to this script is passed on to the program.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
if [ "${1:-}" != "--prefix" ] || [ -z "${2:-}" ] || [ -z "${3:-}" ]; then
    echo "usage: wine-run.sh --prefix DIR PROGRAM.exe [ARGS...]" >&2
    exit 2
fi
prefix="$2"
shift 2
"$here/wine-prefix.sh" create "$prefix"
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
export WINEPREFIX
WINEPREFIX="$(cd "$prefix" && pwd)"
# A program that ends with an error code says so in its own output as a rule; one that Wine could
# not start, or that ended before it wrote a line, says nothing. The code is named here for both.
"$QJ_WINE" "$@" <&0 &
program=$!
signalled=0
trap 'signalled=1; kill -TERM "$program" 2>/dev/null' TERM INT HUP
status=0
wait "$program" || status=$?
# A signal to this script ends the wait early; the program's own end is what counts.
while [ "$signalled" = 1 ]; do
    signalled=0
    status=0
    wait "$program" || status=$?
done
if [ "$status" -ne 0 ]; then
    echo "wine-run: $(basename "$1") ended with exit code $status" >&2
fi
exit "$status"
