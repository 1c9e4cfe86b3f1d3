#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking need, the Windows build's
# among them (the MinGW-w64 cross compiler, Wine to run its tests, GoogleTest's sources); with
# --fuzz, also what fuzzing needs.
# Non-interactive; does nothing (and costs about a second) when all are present.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libcurl4-openssl-dev libpcre2-dev libssl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libcpp-httplib-dev nlohmann-json3-dev
    fonts-wqy-microhei
    tinyproxy openssl unzip
    xvfb xauth
    g++-mingw-w64-x86-64-posix wine64 wine libwine googletest
    # the publishing tests' peers: a real WordPress with its own MariaDB, and PHP for a form-based site
    wordpress mariadb-server mariadb-client php-cli php-mysql
)
# scripts/fuzz.sh also needs clang and its libFuzzer runtime.
if [ "${1:-}" = "--fuzz" ]; then
    packages+=(clang libclang-rt-dev)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
