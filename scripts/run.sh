#!/bin/bash
# Installs what is missing, builds Runwarden and starts it under Wine in a
# Wine desktop with a taskbar and tray, in a Wine prefix of its own under
# build/. Without an X display it runs under Xvfb, checks that the program's
# tray icon is on the taskbar, saves a screenshot of the desktop to
# build/runwarden-desktop.png and ends the program.
#
# Both builds are made; the shipped program is build/i686/Runwarden.exe. The
# 64-bit build of the same sources is the one started, because a 64-bit-only
# kernel (like the one these scripts are tested on) cannot run 32-bit code.
set -e -o pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" i686
"$top/scripts/build.sh" x86_64
# wine-env.sh takes the build folder as $1; this prefix and the display are
# the program's own, not the test bench's.
user_display=${DISPLAY:-}
. "$top/tests/wine-env.sh" "$top/build/x86_64"
export WINEPREFIX="$top/build/wineprefix-run"
DISPLAY=$user_display
exe="Z:$(echo "$top/build/x86_64/Runwarden.exe" | tr / '\\')"
shot="$top/build/runwarden-desktop.png"
fail() { echo "run.sh: $*" >&2 && exit 1; }

if [ -n "${DISPLAY:-}" ]; then
  make_prefix || fail "the Wine prefix $WINEPREFIX could not be made"
  exec "$WINE64" explorer /desktop=Runwarden,1024x768 "$exe"
fi

n=70
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
xvfb=$!
trap '"$WINESERVER" -k 2>/dev/null; kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=":$n"
for i in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
make_prefix || fail "the Wine prefix $WINEPREFIX could not be made"
"$WINE64" explorer /desktop=Runwarden,1024x768 "$exe" >/dev/null 2>&1 </dev/null &

# The program is up once its icon (its edge colour, from
# resources/icons/make_icons.py) shows on the taskbar.
icon_shown() {
  import -window root "$shot" 2>/dev/null &&
    [ "$(convert "$shot" -fill black +opaque '#101C38' -fill white -opaque '#101C38' -format %@ info: 2>/dev/null | cut -dx -f1)" != 0 ]
}
for i in $(seq 100); do icon_shown && break; sleep 0.2; done
icon_shown || fail "Runwarden's tray icon did not appear; the desktop as it was: $shot"
echo "Runwarden runs in a Wine desktop; screenshot: $shot"
