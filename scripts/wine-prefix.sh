#!/usr/bin/env bash
# A private Wine prefix for the Windows build's tests.
#
#   wine-prefix.sh create DIR   makes DIR a ready prefix (once; later calls return at once)
#   wine-prefix.sh start DIR    creates DIR if need be and starts its Wine session for a test run:
#                               a server that stays until `stop`, with Wine's own background
#                               processes (services, the desktop) already running
#   wine-prefix.sh stop DIR     stops the Wine server of DIR, and with it every process of DIR
#
# Only the server of the given prefix is ever touched: other Wine programs on the machine (other
# prefixes, other users of the same binaries) keep running.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"

command="${1:-}"
prefix="${2:-}"
if [ -z "$command" ] || [ -z "$prefix" ]; then
    echo "usage: wine-prefix.sh create|start|stop DIR" >&2
    exit 2
fi
mkdir -p "$(dirname "$prefix")"
prefix="$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")"
export WINEPREFIX="$prefix"

# Wine maps fonts by family name; a prefix without Windows fonts draws Latin letters of 宋体 as
# boxes. These names fall back to WenQuanYi Micro Hei (Debian fonts-wqy-microhei) instead. regedit
# reads UTF-16 files, which is what carries the Chinese names.
write_font_replacements() {
    local reg="$1"
    local font="WenQuanYi Micro Hei"
    {
        printf '\xff\xfe'
        iconv -f UTF-8 -t UTF-16LE <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]
"SimSun"="$font"
"NSimSun"="$font"
"宋体"="$font"
"新宋体"="$font"
"Microsoft YaHei"="$font"
"微软雅黑"="$font"
"SimHei"="$font"
"黑体"="$font"

REG
    } >"$reg"
}

create() {
    if [ -f "$prefix/.qj-ready" ]; then
        return 0
    fi
    mkdir -p "$prefix"
    # Two tests starting at once must not both build the prefix.
    exec 9>"$prefix.lock"
    flock 9
    if [ -f "$prefix/.qj-ready" ]; then
        return 0
    fi
    local started=$SECONDS
    # No display while the prefix is built: wineboot then shows no progress window, and no
    # Mono or Gecko installer is offered (DLL overrides switch both off).
    DISPLAY= WINEDLLOVERRIDES="mscoree,mshtml=" "$QJ_WINE" wineboot --init >/dev/null 2>&1
    local reg="$prefix/qj-fonts.reg"
    write_font_replacements "$reg"
    DISPLAY= "$QJ_WINE" regedit /S "$(WINEPREFIX="$prefix" "$QJ_WINEPATH" -w "$reg" 2>/dev/null)" >/dev/null 2>&1
    "$QJ_WINESERVER" -w
    touch "$prefix/.qj-ready"
    echo "wine-prefix: created $prefix in $((SECONDS - started)) s" >&2
}

# Wine starts its background processes (wineboot, services, the desktop's explorer) from the first
# program of a session and hands them that program's standard error. Started by a test, they would
# keep the test's output pipe open until the session ends, and ctest would wait for the test that
# long (or time it out). And a session that ends between two tests, when none runs for a moment,
# starts again under the next one. So the session of a test run is started here, by a program whose
# standard handles lead nowhere, and stays up until `stop`: no test ever starts or ends it.
start() {
    create
    if ! "$QJ_WINESERVER" -p 2>/dev/null; then
        # A server of this prefix runs already, maybe one that ends when idle: begin afresh.
        "$QJ_WINESERVER" -k 2>/dev/null || true
        "$QJ_WINESERVER" -w
        "$QJ_WINESERVER" -p
    fi
    # Asking for the desktop window starts the services and the desktop; it returns once they run.
    "$QJ_WINE" rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
}

stop() {
    if [ -d "$prefix" ]; then
        "$QJ_WINESERVER" -k 2>/dev/null || true
    fi
}

case "$command" in
create) create ;;
start) start ;;
stop) stop ;;
*)
    echo "wine-prefix.sh: unknown command $command" >&2
    exit 2
    ;;
esac
