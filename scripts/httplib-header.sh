#!/usr/bin/env bash
# Prints a folder holding cpp-httplib as one header (httplib.h), for the Windows test servers.
# Debian's libcpp-httplib-dev splits the library into a header and a shared library that MinGW
# cannot link, so the header comes from the Debian source package of the same version, fetched
# once with a private apt state (the system's apt configuration is left as it is) into DIR
# (default build-windows/httplib).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$root/build-windows/httplib}"
if [ -f "$dir/httplib.h" ] && grep -q 'inline.*ClientImpl::send' "$dir/httplib.h"; then
    echo "$dir"
    exit 0
fi
mkdir -p "$dir"
work="$(mktemp -d "$dir/fetch.XXXXXX")"
trap 'rm -rf "$work"' EXIT
. /etc/os-release
mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
echo "deb-src http://deb.debian.org/debian $VERSION_CODENAME main" >"$work/sources.list"
echo "deb-src http://deb.debian.org/debian-security $VERSION_CODENAME-security main" >>"$work/sources.list"
apt_opts=(-o "Dir::Etc::SourceList=$work/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
    -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o "APT::Sandbox::User=root"
    -o "Debug::NoLocking=1")
apt-get "${apt_opts[@]}" -qq update >&2
# The source of the installed binary's version, so that the Linux and Windows servers agree.
version="$(dpkg-query -W -f='${Version}' libcpp-httplib-dev 2>/dev/null || true)"
(cd "$work" && apt-get "${apt_opts[@]}" -qq source "cpp-httplib${version:+=$version}" >&2)
header="$(find "$work" -maxdepth 2 -name httplib.h -path '*cpp-httplib-*' | head -n1)"
if [ -z "$header" ]; then
    echo "httplib-header: no httplib.h in the cpp-httplib source package" >&2
    exit 1
fi
cp "$header" "$dir/httplib.h"
cp "$(dirname "$header")/LICENSE" "$dir/LICENSE" 2>/dev/null || true
echo "$dir"
