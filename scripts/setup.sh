#!/usr/bin/env bash
# Installs what building and testing DOZEWARD needs on a Debian or Ubuntu
# machine: the host compiler and test framework, the mingw-w64 cross compiler
# for the Windows build, Wine (32-bit) with a virtual X server for running the
# Windows programs, and the clang tools (with the fuzzer and sanitizer
# runtimes).
#
# Safe to run again and again: when everything is present it only asks dpkg
# and returns in well under a second; the package index is refreshed only when
# something has to be installed. Needs root (or sudo) only in that case.
set -euo pipefail

PACKAGES=(
    cmake g++ make libgtest-dev libgmock-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686
    wine wine32:i386 xvfb xauth
    clang libclang-rt-dev clang-format clang-tidy
)

is_installed() {
    [[ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" == "installed" ]]
}

as_root() {
    if [[ $(id -u) -eq 0 ]]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "setup.sh: need root to run: $*" >&2
        exit 1
    fi
}

# wine32 is an i386 package: the architecture must be known to dpkg first.
need_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_i386=1
fi

missing=()
for package in "${PACKAGES[@]}"; do
    if [[ $need_i386 -eq 1 && "$package" == *:i386 ]] || ! is_installed "$package"; then
        missing+=("$package")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    echo "setup: all build and test packages are present"
    exit 0
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if [[ $need_i386 -eq 1 ]]; then
    as_root dpkg --add-architecture i386
fi
as_root apt-get update -q
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
    "${missing[@]}" </dev/null
echo "setup: done"
