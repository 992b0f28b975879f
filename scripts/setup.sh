#!/usr/bin/env bash
# Installs what building and testing DOZEWARD needs on a Debian or Ubuntu
# machine: the host compiler and test framework, the mingw-w64 cross
# compilers for the product (i686) and its test twin (x86_64), 64-bit Wine
# with a virtual X server for running the Windows programs, the clang tools
# (with the fuzzer and sanitizer runtimes) and, where the kernel runs 32-bit
# code, 32-bit Wine for the product itself.
#
# Whether the kernel runs 32-bit code is found out by running a tiny i386
# program (scripts/probe-i386.sh); DOZEWARD_WINE32=0 makes the answer no.
#
# Safe to run again and again: when everything is present it only asks dpkg
# and returns in well under a second; the package index is refreshed only when
# something has to be installed. Needs root (or sudo) only in that case.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

PACKAGES=(
    cmake g++ make binutils libgtest-dev libgmock-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine wine64 xvfb xauth
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

updated=0
install_packages() {
    echo "setup: installing $*"
    if [[ $updated -eq 0 ]]; then
        as_root apt-get update -q
        updated=1
    fi
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" </dev/null
}

missing=()
for package in "${PACKAGES[@]}"; do
    if ! is_installed "$package"; then
        missing+=("$package")
    fi
done
if [[ ${#missing[@]} -gt 0 ]]; then
    install_packages "${missing[@]}"
fi

# The probe needs binutils, which the list above brings.
if probe=$("$HERE/probe-i386.sh"); then
    # wine32 is an i386 package: the architecture must be known to dpkg first.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
        updated=0
        install_packages wine32:i386
        missing+=(wine32:i386)
    elif ! is_installed wine32:i386; then
        install_packages wine32:i386
        missing+=(wine32:i386)
    fi
    echo "setup: 32-bit Wine: yes, the kernel runs i386 programs"
else
    echo "setup: 32-bit Wine: not installed (${probe#no: }); the x64 twin runs the Wine layers"
fi

if [[ ${#missing[@]} -eq 0 ]]; then
    echo "setup: all build and test packages are present"
else
    echo "setup: done"
fi
