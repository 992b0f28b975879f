#!/usr/bin/env bash
# Fails if any C++ file of the repository differs from the layout in
# .clang-format, naming each one; `clang-format -i FILE` fixes it. Run by
# CTest (hygiene.format) so that CI fails on an unformatted file.
#
# The files are those git knows: tracked ones and new ones not ignored, so
# that build folders and a file about to be added are judged alike.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
CLANG_FORMAT=${CLANG_FORMAT:-clang-format}

mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' |
    while read -r file; do [[ -f $file ]] && printf '%s\n' "$file"; done)
if [[ ${#files[@]} -eq 0 ]]; then
    echo "check-format: git lists no C++ files" >&2
    exit 1
fi

unformatted=()
for file in "${files[@]}"; do
    if ! "$CLANG_FORMAT" --dry-run --Werror "$file" >/dev/null 2>&1; then
        unformatted+=("$file")
    fi
done

if [[ ${#unformatted[@]} -gt 0 ]]; then
    echo "check-format: ${#unformatted[@]} of ${#files[@]} files differ from .clang-format:"
    printf '  %s\n' "${unformatted[@]}"
    echo "fix with: $CLANG_FORMAT -i FILE..."
    exit 1
fi
echo "check-format: ${#files[@]} files match .clang-format"
