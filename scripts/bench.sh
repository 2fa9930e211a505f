#!/bin/sh
# Builds the 64-bit target and runs the benchmark programs under Wine in the
# build's own prefix; each prints a table.
#
# Wine's server, the prefix's services and every program run on one core. A
# registry call under Wine is a round trip to the server process; on a
# virtual machine one that has to wake the other core takes 30 to 50 us
# instead of 3, depending on the host, and the figures of a run then varied
# tenfold from one run to the next.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" x86_64
build="$top/build/x86_64"
core=$(($(nproc) - 1))
# A server the suite left running would not be on that core.
"$top/tests/wine-bench.sh" down "$build"
taskset -c "$core" "$top/tests/wine-bench.sh" up "$build"
trap '"$top/tests/wine-bench.sh" down "$build"' EXIT
for bench in bench_store bench_registry bench_once bench_watch bench_question bench_window; do
  echo "== $bench"
  taskset -c "$core" "$top/tests/wine-run.sh" "$build" "$build/bench/$bench.exe"
done
