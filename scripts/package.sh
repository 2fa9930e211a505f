#!/bin/sh
# Makes what a Windows user downloads, under dist/: for the 64-bit and the
# 32-bit build, an installer (NSIS) and a portable zip (the program, its help
# and a short read-me). Both builds must be made first (scripts/build.sh).
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(Runwarden VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
dist="$top/dist"
mkdir -p "$dist"
for arch in x64 x86; do
  if [ "$arch" = x64 ]; then build="$top/build/x86_64"; else build="$top/build/i686"; fi
  stage="$build/package"
  rm -rf "$stage" && mkdir -p "$stage"
  cp "$build/Runwarden.exe" "$build/Runwarden.chm" "$top/installer/readme.txt" "$top/resources/icons/main.ico" "$stage/"
  makensis -V2 -DARCH="$arch" -DVERSION="$version" -DSOURCE="$stage" \
    -DOUTFILE="$dist/Runwarden-$version-$arch-setup.exe" "$top/installer/Runwarden.nsi"
  rm -f "$dist/Runwarden-$version-$arch.zip"
  (cd "$stage" && zip -q -X "$dist/Runwarden-$version-$arch.zip" Runwarden.exe Runwarden.chm readme.txt)
done
ls -l "$dist"
