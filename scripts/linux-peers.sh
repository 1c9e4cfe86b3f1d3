#!/usr/bin/env bash
# Linux programs on 127.0.0.1 that the Windows tests reach over loopback (a Wine process shares the
# host's network): the TLS server of the HTTP tests (QJ_TLS_SERVER names the program, the Linux
# build's qj_http_tls_peer), and tinyproxy with the basic-authentication credentials the tests use.
#
#   linux-peers.sh start DIR   starts both; writes DIR/peers.txt ("name value" lines) and their ids
#   linux-peers.sh stop DIR    stops the processes that start wrote down, and only those
#
# The tests find the peers through the file that QJ_PEERS names.
set -euo pipefail

command="${1:-}"
dir="${2:-}"
if [ -z "$command" ] || [ -z "$dir" ]; then
    echo "usage: linux-peers.sh start|stop DIR" >&2
    exit 2
fi
mkdir -p "$dir"

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits until something accepts connections on the port (at most 10 s).
wait_for_port() {
    for _ in $(seq 200); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then
            return 0
        fi
        sleep 0.05
    done
    echo "linux-peers: nothing listens on port $1" >&2
    return 1
}

start() {
    local tls_port proxy_port user=qj password=s3cret
    rm -f "$dir/tls.port"
    "$QJ_TLS_SERVER" "$dir/tls.port" </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/tls.pid"

    proxy_port="$(free_port)"
    cat >"$dir/tinyproxy.conf" <<CONF
Port $proxy_port
Listen 127.0.0.1
Timeout 30
MaxClients 20
Allow 127.0.0.1
LogLevel Critical
BasicAuth $user $password
CONF
    tinyproxy -d -c "$dir/tinyproxy.conf" </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/proxy.pid"

    # The TLS server writes its port once it listens.
    for _ in $(seq 200); do
        [ -s "$dir/tls.port" ] && break
        sleep 0.05
    done
    tls_port="$(cat "$dir/tls.port" 2>/dev/null || true)"
    if [ -z "$tls_port" ]; then
        echo "linux-peers: the TLS server did not start" >&2
        return 1
    fi
    wait_for_port "$tls_port"
    wait_for_port "$proxy_port"
    cat >"$dir/peers.txt" <<PEERS
tls $tls_port
proxy 127.0.0.1:$proxy_port
proxy-user $user
proxy-password $password
PEERS
}

stop() {
    local pidfile
    for pidfile in "$dir/tls.pid" "$dir/proxy.pid"; do
        if [ -f "$pidfile" ]; then
            kill "$(cat "$pidfile")" 2>/dev/null || true
            rm -f "$pidfile"
        fi
    done
}

case "$command" in
start) start ;;
stop) stop ;;
*)
    echo "linux-peers.sh: unknown command $command" >&2
    exit 2
    ;;
esac
