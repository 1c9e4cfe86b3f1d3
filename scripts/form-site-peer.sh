#!/usr/bin/env bash
# The form-based site of the publishing tests (tests/publishing/form_site/router.php) under PHP's
# built-in web server on a free loopback port, its data in DIR/data. Nothing outside DIR is written.
#
#   form-site-peer.sh start DIR   starts it and writes DIR/form-site.txt ("url http://127.0.0.1:PORT")
#   form-site-peer.sh stop DIR    stops the server that start wrote down, and only that
set -euo pipefail

command="${1:-}"
dir="${2:-}"
if [ -z "$command" ] || [ -z "$dir" ]; then
    echo "usage: form-site-peer.sh start|stop DIR" >&2
    exit 2
fi
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
router="$(cd "$(dirname "$0")/../tests/publishing/form_site" && pwd)/router.php"

stop() {
    if [ -f "$dir/form-site.pid" ]; then
        kill -- "-$(cat "$dir/form-site.pid")" 2>/dev/null || true
        rm -f "$dir/form-site.pid"
    fi
}

start() {
    local port
    # A server a killed run left behind is stopped first (by the id it wrote down).
    stop
    port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
    rm -rf "$dir/data"
    mkdir -p "$dir/data/sessions"
    FORM_SITE_DATA="$dir/data" PHP_CLI_SERVER_WORKERS=4 setsid php -d display_errors=stderr -d log_errors=0 \
        -S "127.0.0.1:$port" "$router" </dev/null >"$dir/form-site.log" 2>&1 &
    echo $! >"$dir/form-site.pid"
    for _ in $(seq 600); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "url http://127.0.0.1:$port" >"$dir/form-site.txt"
            return 0
        fi
        sleep 0.05
    done
    echo "form-site-peer: PHP's web server did not start (see $dir/form-site.log)" >&2
    return 1
}

case "$command" in
start) start ;;
stop) stop ;;
*)
    echo "form-site-peer.sh: unknown command $command" >&2
    exit 2
    ;;
esac
