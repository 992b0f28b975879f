#!/usr/bin/env bash
# Runs one Windows test program under Wine on a virtual X display, for CTest.
#
#   WINEPREFIX=DIR wine-run.sh --init           make DIR a fresh Wine prefix
#   WINEPREFIX=DIR wine-run.sh PROGRAM [ARGS]   run PROGRAM, exit with its code
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

if [[ -z "${WINEPREFIX:-}" ]]; then
    echo "wine-run.sh: WINEPREFIX must name the prefix to use" >&2
    exit 2
fi
export WINEPREFIX
export WINEARCH=win32
export WINEDEBUG=-all
# No prompts to install .NET or a browser engine: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY

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
    run_on_display wineboot -i >/dev/null 2>&1 </dev/null
    rc=$?
    if [[ $rc -ne 0 || ! -f "$WINEPREFIX/system.reg" ]]; then
        echo "wine-run.sh: wineboot failed (exit $rc) for $WINEPREFIX" >&2
        exit 1
    fi
    echo "Wine prefix $WINEPREFIX ready in $(( $(date +%s) - start )) s"
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
run_on_display wine "$@" >"$out" 2>&1 </dev/null
rc=$?
# Console output of Windows programs ends its lines with CR LF.
tr -d '\r' <"$out"
exit $rc
