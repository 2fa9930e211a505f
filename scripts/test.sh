#!/bin/sh
# Installs what is missing, builds the 32-bit and the 64-bit program and the
# downloads (installers and zips), and runs the whole suite (the 64-bit
# build, under wine64).
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" i686
"$top/scripts/build.sh" x86_64
"$top/scripts/package.sh" >/dev/null
cd "$top/build/x86_64"
ctest --output-on-failure --timeout 300 "$@"
