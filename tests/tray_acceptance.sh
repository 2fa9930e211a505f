#!/bin/bash
# The tray icon as a user meets it: tray_acceptance.sh BUILD
#
# The program runs on a Wine desktop with a taskbar, on the build's Xvfb
# display. The mouse is moved and clicked through X (xdotool) at the icon the
# screen shows; desktop_user.exe, run in the same prefix, looks at the
# program's windows and says where its buttons and menu items are. Every wait
# is bounded: the test fails rather than hangs.
set -u -o pipefail

build_dir=$(cd "$1" && pwd)
# wine-env.sh takes the build folder as $1.
. "$(dirname "$0")/wine-env.sh" "$build_dir"

desk=rwaccept
helper_exe=$build_dir/tests/desktop_user.exe
shots=$build_dir/tests/screenshots
work=$build_dir/tests/acceptance
started=$(date +%s)
# Command lines of the processes this test starts, as pgrep patterns.
runwarden_process='^[A-Z]:.*\\Runwarden\.exe'
helper_process='^[A-Z]:.*\\desktop_user\.exe'
desktop_process='^C:.*\\explorer\.exe /desktop='$desk','

fail() {
  echo "FAIL: $*"
  exit 1
}

winpath() { echo "Z:$1" | tr / '\\'; }

# One question to desktop_user; its answer on stdout.
helper() { timeout 60 "$WINE64" "$helper_exe" "$desk" "$@" 2>/dev/null </dev/null | tr -d '\r'; }

# A value from an answer: field NAME of "NAME=A,B,..." as "A B ...".
field() { echo "$1" | sed -n "s/^$2=//p" | tr ',' ' '; }

# Starts a program on the test desktop. The first one creates the desktop,
# and that explorer stays until nothing runs on the desktop any more; later
# ones return at once.
desktop_pid=
open_desktop() {
  "$WINE64" explorer "/desktop=$desk,1024x768" "$@" >/dev/null 2>&1 </dev/null &
  desktop_pid=$!
}
on_desktop() {
  timeout 20 "$WINE64" explorer "/desktop=$desk,1024x768" "$@" >/dev/null 2>&1 </dev/null
}

# Moves the mouse there, rests a moment as a hand does, and clicks. Pressed
# at once, the press can reach Wine before the move does and land where the
# pointer was.
click() {
  timeout 10 xdotool mousemove --sync "$1" "$2" || fail "xdotool could not move the mouse to $1,$2"
  sleep 0.3
  timeout 10 xdotool click "$3" || fail "xdotool could not click at $1,$2"
}

shot() { timeout 20 import -window root "$work/$1.png" || fail "no screenshot $1"; }

# The Wine processes of this prefix whose command line matches Pattern (the
# loader's own processes, such as start.exe, name the programs too, but
# later on their command lines).
prefix_pids() {
  local pid
  for pid in $(pgrep -f "$1"); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
    fi
  done
}

cleanup() {
  helper release >/dev/null
  # The bench's wineboot starts whatever the Run keys name: leave them empty.
  helper quiet 'C:\rwtest\tray_acceptance' >/dev/null
  local pid i
  for pid in $(prefix_pids "$runwarden_process") $(prefix_pids "$helper_process"); do
    kill "$pid" 2>/dev/null
  done
  # The desktop's explorer ends by itself once nothing runs on the desktop.
  for i in $(seq 50); do
    [ -z "$(prefix_pids "$desktop_process")" ] && break
    sleep 0.2
  done
  for pid in $(prefix_pids "$desktop_process") $desktop_pid; do
    kill "$pid" 2>/dev/null
  done
}
trap cleanup EXIT

for tool in xdotool import convert; do
  command -v "$tool" >/dev/null || fail "$tool is missing (apt-get install xdotool imagemagick)"
done
[ -n "${DISPLAY:-}" ] || fail "no display: the wine fixture starts one"
[ -f "$helper_exe" ] || fail "$helper_exe is not built"
running=$(prefix_pids "$runwarden_process")
[ -z "$running" ] || fail "Runwarden is already running in this prefix: $(ps -o pid=,args= -p "$running")"
rm -rf "$work"
mkdir -p "$work" "$shots"

exe=$(winpath "$build_dir/Runwarden.exe")
helper quiet 'C:\rwtest\tray_acceptance' >/dev/null || fail "cannot quieten the autostart locations"
timeout 10 xdotool mousemove --sync 512 300 || fail "xdotool cannot move the mouse"

# The desktop first without the program: the taskbar as it looks without its
# icon (desktop_user keeps the desktop open and puts an icon of its own there).
open_desktop "$(winpath "$helper_exe")" "$desk" hold 200000
answer=$(helper taskbar 20000) || fail "the desktop did not come up: $answer"
read -r bar_left bar_top bar_right bar_bottom <<<"$(field "$answer" taskbar)"
bar_width=$((bar_right - bar_left))
bar_height=$((bar_bottom - bar_top))
strip="${bar_width}x${bar_height}+${bar_left}+${bar_top}"
sleep 1
shot before

on_desktop "$exe"
answer=$(helper wait-main 20000) || fail "the program did not start: $answer"
sleep 1
shot started

# The icon: what the start changed in the taskbar.
box=$(convert "$work/before.png" "$work/started.png" -compose difference -composite \
  -crop "$strip" +repage -colorspace gray -threshold 0 -format '%@' info: 2>/dev/null)
read -r icon_width icon_height icon_x icon_y <<<"$(echo "$box" | tr 'x+' '  ')"
if [ "${icon_width:-0}" -lt 8 ] || [ "${icon_width:-0}" -gt 48 ] || [ "${icon_height:-0}" -lt 8 ]; then
  fail "no tray icon appeared in the taskbar (changed area: $box)"
fi
icon_cx=$((bar_left + icon_x + icon_width / 2))
icon_cy=$((bar_top + icon_y + icon_height / 2))
echo "tray icon at $icon_cx,$icon_cy (${icon_width}x${icon_height})"

# A left click runs a check, which ends with "Проверка завершена".
click "$icon_cx" "$icon_cy" 1
answer=$(helper box 20000) || fail "no completion box after a left click: $answer"
shot completion-box
read -r ok_x ok_y <<<"$(field "$answer" ok)"
click "$ok_x" "$ok_y" 1
answer=$(helper no-box 10000) || fail "OK did not close the box: $answer"

# A right click opens the menu at the cursor.
layout=$(helper measure-menu)
read -r layout_width layout_height <<<"$(field "$layout" size)"
[ -n "${layout_height:-}" ] || fail "the menu could not be measured: $layout"
click "$icon_cx" "$icon_cy" 3
answer=$(helper menu 20000) || fail "the menu did not open at the cursor: $answer"
shot menu
cp "$work/menu.png" "$shots/tray_acceptance_menu.png"
read -r menu_left menu_top <<<"$(field "$answer" menu)"
read -r menu_width menu_height <<<"$(field "$answer" size)"
[ "$menu_width $menu_height" = "$layout_width $layout_height" ] ||
  fail "the program's menu ($menu_width x $menu_height) is not laid out like its resource ($layout_width x $layout_height)"

# "Запускать с Windows" writes the program's Run value.
read -r dx dy <<<"$(field "$layout" item105)"
click $((menu_left + dx)) $((menu_top + dy)) 1
answer=$(helper run-value 10000 "$exe") || fail "choosing 'start with Windows' did not write the Run value: $answer"

# "Выход" ends the program, and the icon leaves the tray.
click "$icon_cx" "$icon_cy" 3
answer=$(helper menu 20000) || fail "the menu did not open again: $answer"
read -r menu_left menu_top <<<"$(field "$answer" menu)"
read -r dx dy <<<"$(field "$layout" item102)"
click $((menu_left + dx)) $((menu_top + dy)) 1
answer=$(helper gone 20000) || fail "'Exit' did not end the program: $answer"
# The taskbar repaints a moment later.
for i in $(seq 10); do
  sleep 0.5
  shot ended
  changed=$(convert "$work/before.png" "$work/ended.png" -compose difference -composite \
    -crop "$strip" +repage -colorspace gray -threshold 0 -format '%@' info: 2>/dev/null)
  [ "${changed%%+*}" = 0x0 ] && break
done
[ "${changed%%+*}" = 0x0 ] || fail "the taskbar still differs from before the start (area $changed): the icon stayed"

helper release >/dev/null || fail "the desktop could not be released"
for i in $(seq 100); do
  [ -z "$(prefix_pids "$desktop_process")" ] && break
  sleep 0.2
done
[ -z "$(prefix_pids "$desktop_process")" ] || fail "the desktop did not close"
echo "PASS in $(($(date +%s) - started)) s"
