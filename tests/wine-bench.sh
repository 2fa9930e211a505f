#!/bin/sh
# Starts and stops the suite's display and Wine prefix: wine-bench.sh up|down BUILD
set -e
action=$1
shift
# wine-env.sh takes the build folder as $1.
. "$(dirname "$0")/wine-env.sh"

start_display() {
  if [ -f "$build_dir/xvfb.pid" ] && kill -0 "$(cat "$build_dir/xvfb.pid")" 2>/dev/null; then
    return
  fi
  n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
  echo $! >"$build_dir/xvfb.pid"
  echo ":$n" >"$build_dir/xvfb.display"
  i=0
  while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
}

case "$action" in
up)
  start_display
  DISPLAY=$(cat "$build_dir/xvfb.display")
  export DISPLAY
  make_prefix || { echo "the Wine prefix $WINEPREFIX could not be made" >&2; exit 1; }
  # One server for the whole run: each test then starts in a fraction of a second.
  "$WINESERVER" -p >/dev/null 2>&1 </dev/null || true
  # Start the prefix's own services now, away from CTest's output pipes:
  # started by the first test they would keep its output open to the end.
  # (Not through wineboot, which would also start what the Run keys name.)
  "$WINE64" cmd /c exit >/dev/null 2>&1 </dev/null || true
  ;;
down)
  "$WINESERVER" -k 2>/dev/null || true
  if [ -f "$build_dir/xvfb.pid" ]; then
    kill "$(cat "$build_dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$build_dir/xvfb.pid" "$build_dir/xvfb.display"
  fi
  ;;
esac
