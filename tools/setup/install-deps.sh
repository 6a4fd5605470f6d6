#!/usr/bin/env bash
# Installs what the builds, the tests and the demo need on a Debian machine.
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
    build-essential cmake g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
    mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine64 fonts-wine xvfb xauth x11-utils xdotool imagemagick
    python3 python3-markdown iproute2 util-linux procps psmisc
    curl atftp tftp-hpa tftpd-hpa lighttpd apache2 apache2-utils libssl-dev
    openssl osslsigncode
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
# The peers run only when a test starts them.
for service in tftpd-hpa lighttpd apache2; do
    service "$service" stop >/dev/null 2>&1 || true
done
