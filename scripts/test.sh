#!/usr/bin/env bash
# Builds every configuration and runs every test layer, stopping at the first
# failure with a non-zero exit:
#   host        unit, sim and contract (simulated PC) layers; hygiene
#               (clang-format and clang-tidy)
#   host-asan   sim layer under AddressSanitizer + UndefinedBehaviorSanitizer
#   host-tsan   sim layer under ThreadSanitizer
#   windows     DOZEWARD.EXE, DOZECTL.EXE and the release zip checked as
#               files, then the contract and end-to-end layers under Wine on
#               a virtual display
# The Wine layers run last, so the last lines printed are a CTest summary.
# Wall times of each step are written to build/test-times.txt.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
"$ROOT/scripts/setup.sh"

PRESETS=(host host-asan host-tsan windows)
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

for preset in "${PRESETS[@]}"; do
    echo "==== configure and build: $preset"
    timed "build $preset" bash -c "cmake --preset $preset >/dev/null && cmake --build --preset $preset"
done

for preset in "${PRESETS[@]}"; do
    echo
    echo "==== test layers: $preset"
    # What each earlier step took, just before the summary-ending last run.
    if [[ $preset == windows ]]; then
        cat "$TIMES"
    fi
    timed "test $preset" ctest --preset "$preset"
done
