#!/bin/sh
# Builds the 64-bit target and runs the benchmark programs under Wine in the
# build's own prefix; each prints a table.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" x86_64
build="$top/build/x86_64"
"$top/tests/wine-bench.sh" up "$build"
trap '"$top/tests/wine-bench.sh" down "$build"' EXIT
for bench in bench_store bench_registry bench_once bench_watch; do
  echo "== $bench"
  "$top/tests/wine-run.sh" "$build" "$build/bench/$bench.exe"
done
