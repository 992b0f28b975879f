#!/usr/bin/env bash
# Builds every configuration and runs every test layer, stopping at the first
# failure with a non-zero exit:
#   host        unit, sim and contract (simulated PC) layers; hygiene
#               (clang-format and clang-tidy)
#   host-asan   unit, sim and fuzz layers under AddressSanitizer +
#               UndefinedBehaviorSanitizer
#   host-tsan   sim layer under ThreadSanitizer
#   windows-x64 the x64 test twin: its executables checked as files, then the
#               contract and end-to-end layers under 64-bit Wine, always
#   windows     the product (PE32): DOZEWARD.EXE, DOZECTL.EXE and the release
#               zip checked as files, then the same Wine layers under 32-bit
#               Wine where the kernel runs 32-bit code; elsewhere CTest
#               reports them as skipped, with the reason
# The PE32 run comes last, so the last lines printed are a CTest summary;
# just above it a few lines say which Wine layers ran, on which binaries,
# and why any were skipped. Wall times of each step are written to
# build/test-times.txt and printed there too.
# DOZEWARD_WINE32=0 skips the 32-bit Wine layers on any machine.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
"$ROOT/scripts/setup.sh"

PRESETS=(host host-asan host-tsan windows-x64 windows)
TIMES="$ROOT/build/test-times.txt"
mkdir -p "$ROOT/build"
: >"$TIMES"

timed() {
    local label=$1
    shift
    local start=$SECONDS
    "$@"
    printf '%-24s %4d s\n' "$label" $((SECONDS - start)) >>"$TIMES"
}

# The names of a preset's tests that run under Wine (all but the file checks).
wine_tests() {
    ctest --preset "$1" -N | sed -n 's/^ *Test *#[0-9]*: //p' | grep -v -E '^(build|package)\.' |
        tr '\n' ' '
}

start_all=$SECONDS
for preset in "${PRESETS[@]}"; do
    echo "==== configure and build: $preset"
    timed "build $preset" bash -c "cmake --preset $preset >/dev/null && cmake --build --preset $preset"
done

for preset in "${PRESETS[@]}"; do
    echo
    echo "==== test layers: $preset"
    if [[ $preset == windows ]]; then
        # What ran, and what the last run will skip, just before its summary.
        echo "---- Wine layers"
        echo "x64 twin, build/windows-x64 (PE32+ x86-64 DOZEWARD.EXE, DOZECTL.EXE, DOZECTLW.EXE), 64-bit Wine: ran $(wine_tests windows-x64)"
        if probe=$("$ROOT/scripts/probe-i386.sh"); then
            echo "product, build/windows (PE32 i386 DOZEWARD.EXE, DOZECTL.EXE, DOZECTLW.EXE), 32-bit Wine: runs below: $(wine_tests windows)"
        else
            echo "product, build/windows (PE32 i386 DOZEWARD.EXE, DOZECTL.EXE, DOZECTLW.EXE), 32-bit Wine: skipped below (${probe#no: }): $(wine_tests windows)"
            echo "product, build/windows: its file checks (format, imports, size, package) run below"
        fi
        echo "---- wall times so far"
        cat "$TIMES"
        echo "total so far             $(printf '%4d' $((SECONDS - start_all))) s"
    fi
    timed "test $preset" ctest --preset "$preset"
done
