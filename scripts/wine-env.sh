# Sourced by the Wine scripts: which Wine binaries to use. The 64-bit loader is called directly,
# so no 32-bit Wine is needed and the wrapper's hint about it stays quiet.
QJ_WINE="${QJ_WINE:-}"
if [ -z "$QJ_WINE" ]; then
    if [ -x /usr/lib/wine/wine64 ]; then
        QJ_WINE=/usr/lib/wine/wine64
    else
        QJ_WINE="$(command -v wine64 || command -v wine || true)"
    fi
fi
if [ -z "$QJ_WINE" ]; then
    echo "wine: not installed (scripts/install-deps.sh installs it)" >&2
    exit 127
fi
QJ_WINESERVER="$(dirname "$QJ_WINE")/wineserver"
[ -x "$QJ_WINESERVER" ] || QJ_WINESERVER="$(command -v wineserver)"
QJ_WINEPATH="$(command -v winepath || echo winepath)"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINELOADER="$QJ_WINE"
