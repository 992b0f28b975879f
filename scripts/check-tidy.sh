#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy over the core (app/,
# supervision/, eventlog/ and platform/companion.cpp), which must stay clean:
# every check there is an error. Run by CTest (hygiene.tidy) on the host
# build, whose compile_commands.json gives clang-tidy the same flags and
# include paths as the compiler.
#   check-tidy.sh [BUILD_DIR]     default build/host
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
BUILD_DIR=${1:-$ROOT/build/host}
CLANG_TIDY=${CLANG_TIDY:-clang-tidy}

if [[ ! -f $BUILD_DIR/compile_commands.json ]]; then
    echo "check-tidy: no $BUILD_DIR/compile_commands.json: configure with cmake --preset host" >&2
    exit 1
fi

shopt -s nullglob
files=(app/*.cpp supervision/*.cpp eventlog/*.cpp platform/companion.cpp)
failed=0
for file in "${files[@]}"; do
    # --quiet drops the count of suppressed warnings from other headers.
    if ! "$CLANG_TIDY" --quiet -p "$BUILD_DIR" "$file" 2>/dev/null; then
        echo "check-tidy: $file is not clean"
        failed=1
    fi
done
if [[ $failed -ne 0 ]]; then
    exit 1
fi
echo "check-tidy: ${#files[@]} core files clean"
