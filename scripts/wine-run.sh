#!/usr/bin/env bash
# Runs one Windows test program under Wine on a virtual X display, for CTest.
#
#   WINEPREFIX=DIR [WINEARCH=win32|win64] wine-run.sh --init   make DIR a fresh Wine prefix
#   WINEPREFIX=DIR [WINEARCH=win32|win64] wine-run.sh PROGRAM [ARGS]
#                                                  run PROGRAM, exit with its code
#
# WINEARCH says which Wine runs the program: win32 (the default) for the
# PE32 product build, win64 for its x64 test twin. Each has a prefix of its
# own. Where the kernel cannot run 32-bit code (scripts/probe-i386.sh), a
# win32 run prints why and exits 77, which CTest counts as skipped.
#
# Why it is shaped like this:
# - A display (Xvfb) is needed because Wine's windows of one process are
#   visible to FindWindowA in another only through a real display driver.
# - Programs started by a Wine program inherit its Unix standard output; if
#   that is CTest's pipe, CTest waits until the last of them ends. So the
#   output goes to a file, which is printed once Wine is done.
# - The Wine server is stopped after each program, so that nothing a test
#   left running (a supervisor, a companion) outlives it or talks to the next
#   test's display.
set -u

SKIPPED=77
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [[ -z "${WINEPREFIX:-}" ]]; then
    echo "wine-run.sh: WINEPREFIX must name the prefix to use" >&2
    exit 2
fi
export WINEPREFIX
export WINEARCH=${WINEARCH:-win32}
export WINEDEBUG=-all
# No prompts to install .NET or a browser engine: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY

# The loader: Debian puts both beside each other, and /usr/bin/wine picks the
# 32-bit one whenever it is installed, so each architecture names its own.
case $WINEARCH in
win32)
    if ! probe=$("$HERE/probe-i386.sh"); then
        echo "wine-run.sh: SKIPPED: 32-bit Wine cannot run here: ${probe#no: }"
        exit $SKIPPED
    fi
    WINE_LOADER=${WINE:-/usr/lib/wine/wine}
    ;;
win64)
    WINE_LOADER=${WINE:-/usr/lib/wine/wine64}
    ;;
*)
    echo "wine-run.sh: WINEARCH must be win32 or win64, not $WINEARCH" >&2
    exit 2
    ;;
esac
if [[ ! -x $WINE_LOADER ]]; then
    echo "wine-run.sh: no $WINEARCH Wine at $WINE_LOADER: run scripts/setup.sh" >&2
    exit 1
fi

XVFB_ARGS="-screen 0 1024x768x24 -nolisten tcp"

run_on_display() {
    # The inner shell keeps the display up until the Wine server is gone; its
    # script is quoted so that it expands its own arguments, not ours.
    # shellcheck disable=SC2016
    xvfb-run -a -s "$XVFB_ARGS" bash -c '
        "$@"
        rc=$?
        wineserver -k >/dev/null 2>&1
        wineserver -w >/dev/null 2>&1
        exit $rc' wine-run "$@"
}

if [[ "${1:-}" == "--init" ]]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    start=$(date +%s)
    run_on_display "$WINE_LOADER" wineboot -i >/dev/null 2>&1 </dev/null
    rc=$?
    if [[ $rc -ne 0 || ! -f "$WINEPREFIX/system.reg" ]]; then
        echo "wine-run.sh: wineboot failed (exit $rc) for $WINEPREFIX ($WINEARCH)" >&2
        exit 1
    fi
    echo "Wine prefix $WINEPREFIX ($WINEARCH) ready in $(($(date +%s) - start)) s"
    exit 0
fi

if [[ $# -lt 1 ]]; then
    echo "usage: wine-run.sh --init | PROGRAM [ARGS...]" >&2
    exit 2
fi
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    "$0" --init || exit 1
fi

out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$out"' EXIT
run_on_display "$WINE_LOADER" "$@" >"$out" 2>&1 </dev/null
rc=$?
# Console output of Windows programs ends its lines with CR LF.
tr -d '\r' <"$out"
exit $rc
