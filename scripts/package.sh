#!/usr/bin/env bash
# Makes the release package for the Windows PC:
#   dist/dozeward-<version>-win32.zip  (DOZEWARD.EXE, DOZECTL.EXE, README-WINDOWS.txt)
# Installs what is missing, builds the windows preset (whose build makes the
# zip), checks the zip as a file (package.zip: contents, imports, version
# resource, manifest, same bytes when made again) and copies it to dist/.
# The same sources give the same zip; its time stamps are fixed.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
"$ROOT/scripts/setup.sh"

cmake --preset windows >/dev/null
cmake --build --preset windows --target package
ctest --preset windows -R '^(build\.|package\.)' --verbosity normal

mkdir -p "$ROOT/dist"
for zip in "$ROOT"/build/windows/dist/dozeward-*-win32.zip; do
    cp "$zip" "$ROOT/dist/"
    echo "package: dist/$(basename "$zip") ($(stat -c %s "$zip") bytes, sha256 $(sha256sum "$zip" | cut -d' ' -f1))"
done
