#!/bin/sh
# Configures and builds one target: build.sh i686|x86_64 [cmake args...]
set -e
arch=$1
shift
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/$arch"
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release -DRUNWARDEN_TESTS=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
