#!/usr/bin/env bash
# Linux programs on 127.0.0.1 that the Windows tests reach over loopback (a Wine process shares the
# host's network): a TLS server with a self-signed certificate made on the spot, and tinyproxy
# with basic authentication. QJ_TLS_SERVER names the TLS server program (winprobe/host/tls_server).
#
#   linux-peers.sh start DIR   starts both; writes DIR/peers.txt ("name value" lines) and their ids
#   linux-peers.sh stop DIR    stops the processes that start wrote down, and only those
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
    local tls_port proxy_port user=probe password=secret
    openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=localhost -days 1 \
        -keyout "$dir/key.pem" -out "$dir/cert.pem" 2>/dev/null
    tls_port="$(free_port)"
    "$QJ_TLS_SERVER" "$dir/cert.pem" "$dir/key.pem" "$tls_port" </dev/null >/dev/null 2>&1 &
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

    wait_for_port "$tls_port"
    wait_for_port "$proxy_port"
    cat >"$dir/peers.txt" <<PEERS
tls $tls_port
proxy 127.0.0.1:$proxy_port
proxy-user $user
proxy-password $password
proxy-basic $(printf '%s:%s' "$user" "$password" | base64)
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
