#!/usr/bin/env bash
# The demo: builds DOZEWARD.EXE and runs it under Wine on a virtual display,
# with the demo companion ORB.EXE beside it, and tells what happens:
# start-up, the control window found from another program, the watchdog
# starting the companion, one sleep-and-wake cycle with a short delay asked
# for with DOZECTL (companion closed, hibernation requested, which Wine grants
# at once, wake timer, companion restarted), the event log, and the close with
# WM_CLOSE and exit code 0.
#
# It runs the product, the PE32 build, under 32-bit Wine where the kernel
# runs 32-bit code (scripts/probe-i386.sh), and otherwise the x64 test twin
# of the same sources under 64-bit Wine; its first lines say which and why.
# DOZEWARD_WINE32=0 chooses the twin on any machine.
#
# It drives the supervisor only from outside, with DOZECTL.EXE and
# tools/send_command.exe, the way any other program on the PC would.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if probe=$("$ROOT/scripts/probe-i386.sh"); then
    PRESET=windows
    export WINEARCH=win32
    WINE_LOADER=/usr/lib/wine/wine
    TRIPLE=i686-w64-mingw32
    WHY="the kernel runs 32-bit code, so the product itself runs"
else
    PRESET=windows-x64
    export WINEARCH=win64
    WINE_LOADER=/usr/lib/wine/wine64
    TRIPLE=x86_64-w64-mingw32
    WHY="32-bit Wine cannot run here (${probe#no: }), so the x64 twin of the same sources runs"
fi
BUILD="$ROOT/build/$PRESET"
DEMO="$ROOT/build/demo"
mkdir -p "$DEMO"
STATION="$DEMO/Station A"
export WINEPREFIX="$DEMO/wineprefix-$WINEARCH"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

say() { printf '\n== %s\n' "$*"; }

if [[ "${1:-}" != "--on-display" ]]; then
    echo "demo: runs $BUILD/DOZEWARD.EXE (preset $PRESET) under $WINEARCH Wine:"
    echo "demo: $WHY"
    "$ROOT/scripts/setup.sh"
    say "Building the Windows programs (preset $PRESET)"
    cd "$ROOT"
    if ! { cmake --preset $PRESET && cmake --build --preset $PRESET; } >"$DEMO/build.log" 2>&1; then
        tail -n 40 "$DEMO/build.log"
        echo "demo: build failed (full log: $DEMO/build.log)" >&2
        exit 1
    fi
    imports=$($TRIPLE-objdump -p "$BUILD/DOZEWARD.EXE" | sed -n 's/.*DLL Name: //p' | tr '\n' ' ')
    format=$($TRIPLE-objdump -f "$BUILD/DOZEWARD.EXE" | sed -n 's/.*file format //p')
    echo "DOZEWARD.EXE: $format, $(stat -c %s "$BUILD/DOZEWARD.EXE") bytes, imports: $imports"
    mkdir -p "$STATION"
    cp "$BUILD/DOZEWARD.EXE" "$BUILD/DOZECTL.EXE" "$BUILD/ORB.EXE" "$STATION/"
    rm -f "$STATION/DOZEWARD.LOG"
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
        say "Preparing a Wine prefix for the demo (first run only, about 15 s)"
        "$ROOT/scripts/wine-run.sh" --init
    fi
    unset DISPLAY
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" --on-display
fi

# --- On the virtual display ---------------------------------------------------
# Wine programs started from here inherit standard output; every call writes
# to a file first, so that nothing left running holds this script's output.
LOG="$DEMO/step.log"
SEND="$BUILD/send_command.exe"
WIN_STATION="Z:${STATION//\//\\}"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
cd "$STATION"

step() {
    local rc=0
    "$WINE_LOADER" "$SEND" "$@" >"$LOG" 2>&1 </dev/null || rc=$?
    tr -d '\r' <"$LOG" | sed 's/^/   /'
    return $rc
}

dozectl() {
    local rc=0
    echo "   > DOZECTL $*"
    "$WINE_LOADER" "$STATION/DOZECTL.EXE" "$@" >"$LOG" 2>&1 </dev/null || rc=$?
    tr -d '\r' <"$LOG" | sed 's/^/   /'
    return $rc
}

show_log() {
    echo "   DOZEWARD.LOG, newest entry first:"
    if [[ -f DOZEWARD.LOG ]]; then
        tr -d '\r' <DOZEWARD.LOG | sed 's/^/     /'
    else
        echo "     (none yet)"
    fi
}

say "Starting DOZEWARD.EXE from $WIN_STATION, its path quoted as a desktop shell does"
step start "$WIN_STATION\\DOZEWARD.EXE"

say "Another program looks for the control window by its class, DOZEWARD"
step wait-window DOZEWARD 20
step find DOZEWARD

say "The companion is not running; the watchdog looks every 10 s and starts ORB.EXE"
step find ORIELDESK || true
step wait-window ORIELDESK 40
step find ORIELDESK

DELAY=5
say "One sleep-and-wake cycle, waking $DELAY s after the wake timer is armed"
dozectl status
dozectl sleep "$DELAY"
echo "   The cycle closes the companion about 1 s after the command:"
step wait-gone ORIELDESK 20
sleep 7
echo "   About 7 s after the command it logs the next wake-up, arms the wake timer"
echo "   and requests hibernation (Wine grants it at once, so the PC stays up):"
show_log
echo "   After the timer and 10 s more it nudges the pointer and restarts the companion:"
step wait-window ORIELDESK 60
sleep 1
show_log

say "Back under the watchdog: a companion that ends is started again within 10 s"
step close ORIELDESK 20 >/dev/null || true
step wait-gone ORIELDESK 20
step wait-window ORIELDESK 40

say "Closing the supervisor: WM_CLOSE to its control window"
rc=0
step close DOZEWARD 20 || rc=$?

say "The companion was left running"
step find ORIELDESK
step close ORIELDESK 20 >/dev/null || true

if [[ $rc -ne 0 ]]; then
    echo "demo: DOZEWARD.EXE ended with exit code $rc, expected 0" >&2
    exit 1
fi
say "DOZEWARD.EXE ended with exit code 0"
