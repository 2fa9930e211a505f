# Sourced with the build folder as $1: the environment of every Windows
# program the suite runs. Each build has its own throwaway prefix and display.
build_dir=$(cd "$1" && pwd)
export WINEPREFIX="$build_dir/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
export LC_ALL=ru_RU.UTF-8
# Keep Wine from offering to download Mono and Gecko while the prefix is made.
export WINEDLLOVERRIDES="mscoree=;mshtml="
if [ -f "$build_dir/xvfb.display" ]; then
  DISPLAY=$(cat "$build_dir/xvfb.display")
  export DISPLAY
fi
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
