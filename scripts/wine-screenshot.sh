#!/usr/bin/env bash
# Pictures of the Windows program's window under Wine, on a private virtual X display:
#
#   wine-screenshot.sh OUTPUT_FOLDER
#
# window.png: qingjian.exe started as a double-click starts it (no arguments, a fresh program
# folder), once its window is on the screen; page0.png, page1.png ...: every tab page of the main
# window, drawn by the native window's test (MainWindowWin32.EveryPageRenders). Needs the Windows
# build (scripts/build-windows.sh). Only the Xvfb started here and the Wine server of the build's
# own prefix are stopped.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ $# -ne 1 ]; then
    echo "usage: wine-screenshot.sh OUTPUT_FOLDER" >&2
    exit 2
fi
mkdir -p "$1"
out="$(cd "$1" && pwd)"
build="$root/build-windows"
prefix="$build/wineprefix"
for tool in xwininfo xwd convert; do
    command -v "$tool" >/dev/null || {
        echo "wine-screenshot: $tool is missing (Debian: x11-utils, x11-apps, imagemagick)" >&2
        exit 1
    }
done
for f in "$build/wingui/qingjian.exe" "$build/tests/wingui/qj_wingui_main_tests.exe"; do
    [ -f "$f" ] || { echo "wine-screenshot: $f is missing (scripts/build-windows.sh builds it)" >&2; exit 1; }
done

if [ -z "${QJ_SCREENSHOT_INNER:-}" ]; then
    "$root/scripts/wine-prefix.sh" create "$prefix"
    status=0
    QJ_SCREENSHOT_INNER=1 "$root/scripts/with-xvfb.sh" "$0" "$out" || status=$?
    exit $status
fi

# Inside the private display from here on.
home="$(mktemp -d)"
trap '"$root/scripts/wine-prefix.sh" stop "$prefix"; rm -rf "$home"' EXIT
export WINEDEBUG=-all

# The program itself: its window is the X window titled 青笺 once it is mapped.
QINGJIAN_HOME="$home" "$root/scripts/wine-run.sh" --prefix "$prefix" "$build/wingui/qingjian.exe" &
program=$!
shown=""
for _ in $(seq 600); do
    if xwininfo -root -tree 2>/dev/null | grep -q '"青笺"'; then
        shown=1
        break
    fi
    sleep 0.1
done
if [ -z "$shown" ]; then
    echo "wine-screenshot: the window of qingjian.exe did not appear" >&2
    exit 1
fi
# The window is mapped before it has painted; the picture is taken once the same picture comes
# twice in a row.
previous=""
for _ in $(seq 50); do
    xwd -root -silent | convert xwd:- "$out/window.png"
    current="$(md5sum <"$out/window.png")"
    [ "$current" = "$previous" ] && break
    previous="$current"
    sleep 0.2
done
xwininfo -root -tree | grep '"青笺"' | head -1 >&2
"$root/scripts/wine-prefix.sh" stop "$prefix"
wait "$program" 2>/dev/null || true

# Every page, through the window's own test.
folder="$(WINEPREFIX="$prefix" "$(dirname "$(command -v wine64 || echo /usr/lib/wine/wine64)")/winepath" -w "$out" 2>/dev/null ||
    echo "Z:${out//\//\\}")"
QJ_SCREENSHOT_DIR="$folder" "$root/scripts/wine-run.sh" --prefix "$prefix" "$build/tests/wingui/qj_wingui_main_tests.exe" \
    --gtest_filter=MainWindowWin32.EveryPageRenders >/dev/null
for picture in "$out"/page*.bmp; do
    convert "$picture" "${picture%.bmp}.png" && rm -f "$picture"
done
echo "wine-screenshot: pictures in $out" >&2
