# Sourced with the build folder as $1: the environment of every Windows
# program the suite runs. Each build has its own throwaway prefix and display.
build_dir=$(cd "$1" && pwd)
export WINEPREFIX="$build_dir/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# The system code page: 1251 unless a test asks for another locale.
export LC_ALL=${RUNWARDEN_LOCALE:-ru_RU.UTF-8}
# Keep Wine from offering to download Mono and Gecko while the prefix is made.
export WINEDLLOVERRIDES="mscoree=;mshtml="
if [ -f "$build_dir/xvfb.display" ]; then
  DISPLAY=$(cat "$build_dir/xvfb.display")
  export DISPLAY
fi
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver

# Makes $WINEPREFIX complete once: a prefix whose making was cut short is
# made again, since only a finished one carries the mark (a new mark when
# what a prefix holds changes). Unmanaged windows: without a window manager
# Wine waits up to two seconds on each one. A fresh prefix says it is
# Windows 7; the program and the tests that read Task Manager's switches
# (Windows 8 and later) are told Windows 10.
make_prefix() {
  [ -f "$WINEPREFIX/.runwarden-ready-2" ] && return 0
  rm -rf "$WINEPREFIX"
  "$WINE64" wineboot -i >/dev/null 2>&1 </dev/null
  "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 </dev/null
  for exe in Runwarden.exe checkers_test.exe; do
    "$WINE64" reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe" /v Version /t REG_SZ /d win10 /f >/dev/null 2>&1 </dev/null
  done
  "$WINESERVER" -w
  [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] || return 1
  touch "$WINEPREFIX/.runwarden-ready-2"
}
