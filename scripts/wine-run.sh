#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix (created on first use):
#
#   wine-run.sh --prefix DIR PROGRAM.exe [ARGS...]
#
# The cross build's emulator: ctest and gtest_discover_tests start every Windows test through it.
# The program's exit code is this script's exit code. Standard input, output and error are passed
# through untouched (Wine writes a program's bytes to a pipe as they are).
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
exec "$QJ_WINE" "$@"
