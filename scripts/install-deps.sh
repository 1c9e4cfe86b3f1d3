#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking need, the Windows build's
# among them (the MinGW-w64 cross compiler, Wine to run its tests, GoogleTest's sources, the
# Chinese locale the Windows tests run under); with --fuzz, also what fuzzing needs.
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
    locales
    # the publishing tests' peers: a real WordPress with its own MariaDB, and PHP for a form-based site
    wordpress mariadb-server mariadb-client php-cli php-mysql
)
# scripts/fuzz.sh also needs clang and its libFuzzer runtime.
if [ "${1:-}" = "--fuzz" ]; then
    packages+=(clang libclang-rt-dev)
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Windows tests run as on Chinese Windows: Wine takes its code page from the Unix locale, and
# zh_CN.UTF-8 gives code page 936 (scripts/wine-env.sh). Without that locale Wine falls back to a
# Western code page, and cannot even open a path with Chinese characters.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
    echo "install-deps: generating the locale zh_CN.UTF-8"
    if grep -q '^# *zh_CN.UTF-8 UTF-8' /etc/locale.gen; then
        $SUDO sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    elif ! grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen; then
        echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    fi
    $SUDO locale-gen >/dev/null
fi
