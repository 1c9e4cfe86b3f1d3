#!/usr/bin/env bash
# Runs a command with a virtual X display of its own and stops that display afterwards:
#
#   with-xvfb.sh COMMAND [ARGS...]
#
# Xvfb picks a free display number itself (-displayfd) and says when it is ready; DISPLAY is set for
# the command. Only the Xvfb started here is stopped, by its process id. The command's exit code is
# this script's exit code.
set -euo pipefail

if [ $# -eq 0 ]; then
    echo "usage: with-xvfb.sh COMMAND [ARGS...]" >&2
    exit 2
fi
if ! command -v Xvfb >/dev/null; then
    echo "with-xvfb: Xvfb is not installed (scripts/install-deps.sh installs it)" >&2
    exit 127
fi

work="$(mktemp -d)"
xvfb_pid=""
cleanup() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
# Xvfb writes the display number once it accepts clients; reading the pipe waits for exactly that.
display=""
if ! read -r -t 30 display <"$work/display" || [ -z "$display" ]; then
    echo "with-xvfb: Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi

status=0
DISPLAY=":$display" "$@" || status=$?
exit $status
