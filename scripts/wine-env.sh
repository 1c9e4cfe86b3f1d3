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

# Our users' Windows is Chinese: ANSI and OEM code page 936. Wine takes its code page from the Unix
# locale, so every Windows program these scripts start runs under zh_CN.UTF-8 (QJ_WINE_LANG picks
# another, e.g. C.UTF-8 for the Western code page 1252). scripts/install-deps.sh makes the locale.
export LANG="${QJ_WINE_LANG:-zh_CN.UTF-8}"
unset LC_ALL LC_CTYPE
if ! locale -a 2>/dev/null | tr 'A-Z' 'a-z' | tr -d '-' | grep -qx "$(printf '%s' "$LANG" | tr 'A-Z' 'a-z' | tr -d '-')"; then
    echo "wine: the locale $LANG is missing (scripts/install-deps.sh generates zh_CN.UTF-8)" >&2
    exit 127
fi
