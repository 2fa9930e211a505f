#!/bin/bash
# The tray icon as a user meets it: tray_acceptance.sh BUILD
#
# Runwarden runs on a Wine desktop with a taskbar on the build's Xvfb display.
# The script finds the icon, the box and the menu in screenshots, as a user
# sees them, clicks through X (xdotool) and reads the registry with Wine's reg.
# Every wait is bounded.
set -u -o pipefail

build_dir=$(cd "$1" && pwd)
# wine-env.sh takes the build folder as $1.
. "$(dirname "$0")/wine-env.sh" "$build_dir"

desk=rwaccept W=1024 H=768
work=$build_dir/tests/acceptance
folder=$WINEPREFIX/drive_c/rwtest/tray_acceptance
run_key='HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run'
folders='Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
outline='#101C38' # the icon's edge: OUTLINE in resources/icons/make_icons.py
started=$(date +%s)
# Command lines of the processes this test starts, as pgrep patterns.
runwarden_process='^[A-Z]:.*\\Runwarden\.exe'
reference_process='^wscript .*\\box\.vbs'
desktop_process="^cmd( |\$)|explorer(\\.exe)? /desktop=$desk,"

fail() { echo "FAIL: $*" && exit 1; }
winpath() { echo "Z:$1" | tr / '\\'; }
reg() { timeout 30 "$WINE64" reg "$@" 2>/dev/null </dev/null | tr -d '\r'; }
# Once the desktop is there, explorer hands the program over and returns.
on_desktop() { timeout 20 "$WINE64" explorer "/desktop=$desk,${W}x$H" "$@" >/dev/null 2>&1 </dev/null; }
shot() { timeout 20 import -window root "$work/$1.png" || fail "no screenshot $1"; }
wait_for() { # SECONDS COMMAND...
  local end=$((SECONDS + $1)) && shift && until "$@"; do [ "$SECONDS" -lt "$end" ] && sleep 0.2 || return 1; done
}
# A window shows itself before all of it is painted: a screenshot counts once
# the next one is the same.
steady() {
  mv "$work/$1.png" "$work/previous.png" 2>/dev/null || rm -f "$work/previous.png"
  shot "$1" && compare -metric AE "$work/previous.png" "$work/$1.png" null: 2>/dev/null
}
# WxH+X+Y around what differs between two screenshots (0x0+... for nothing),
# within AREA if given.
changed() {
  convert "$work/$1.png" "$work/$2.png" -compose difference -composite -crop "${3:-${W}x$H+0+0}" +repage \
    -format %@ info: 2>/dev/null
}
changes() { [ "$(changed "$@" | cut -dx -f1)" != 0 ]; }
shows_change() { shot "$2" && changes "$@"; } # BASE NAME [AREA]
looks_like() { shot "$2" && ! changes "$@"; }
# The titles of the shown windows of a Windows program, a line each.
titles_of() { xdotool search --onlyvisible --classname "^$1\$" getwindowname %@ 2>/dev/null; }
no_windows() { ! xdotool search --onlyvisible --classname "^$1\$" >/dev/null 2>&1; }
# Not "mousemove --sync": it waits for a motion, and there is none when the
# pointer is there already.
pointer_at() { [[ $(xdotool getmouselocation 2>/dev/null) == "x:$1 y:$2 "* ]]; }
point_to() { xdotool mousemove "$1" "$2" && wait_for 5 pointer_at "$1" "$2" || fail "cannot move the mouse to $1,$2"; }
# From the plain desktop, the pointer comes to rest on the icon; once the
# tooltip shows, Wine has seen it there, and the press, which hides the
# tooltip, lands on the icon.
click_icon() {
  wait_for 10 looks_like started "pointing-$2" || fail "the desktop is not as it was (see pointing-$2.png)"
  point_to $((W / 2)) $((H / 4)) && point_to "$icon_x" "$icon_y"
  wait_for 10 shows_change started "pointing-$2" || fail "no tooltip on the icon"
  xdotool click "$1" || fail "xdotool cannot click"
}
prefix_pids() {
  for pid in $(pgrep -f "$1"); do grep -qxz "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && echo "$pid"; done
}
no_pids() { [ -z "$(prefix_pids "$1")" ]; }
end_all() { for pid in $(prefix_pids "$1"); do kill "$pid" 2>/dev/null; done; }
empty_run_keys() { # deleted with all they hold, and made again
  local machine='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run'
  local wow='HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Run'
  for key in "$run_key"{,Once} "$machine"{,Once,OnceEx,Services,ServicesOnce} "$wow"{,Once,OnceEx,Services,ServicesOnce}; do printf '[-%s]\n[%s]\n' "$key" "$key"; done
}

cleanup() {
  exec 3>&- # cmd reads the end of its input and leaves; then the desktop closes
  end_all "$runwarden_process" && end_all "$reference_process"
  wait_for 10 no_pids "$desktop_process" || end_all "$desktop_process"
  # The bench's wineboot starts whatever the Run keys name: leave them empty.
  { echo REGEDIT4 && empty_run_keys && echo "[-HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops\\$desk]"; } \
    >"$work/put-back.reg"
  for file in put-back user-folders machine-folders; do
    [ -f "$work/$file.reg" ] && reg import "$(winpath "$work/$file.reg")" >/dev/null
  done
  rm -rf "$folder"
}

for tool in xdotool import convert compare iconv; do command -v $tool >/dev/null || fail "$tool is missing"; done
[ -n "${DISPLAY:-}" ] || fail "no display: the wine fixture starts one"
[ -f "$build_dir/Runwarden.exe" ] || fail "$build_dir/Runwarden.exe is not built"
no_pids "$runwarden_process" || fail "Runwarden is already running in this prefix"
no_pids "$desktop_process" || fail "the desktop $desk is already open in this prefix"
rm -rf "$work" "$folder"
mkdir -p "$work" "$build_dir/tests/screenshots" "$folder/"{AppData,Startup,'Common Startup'}
trap cleanup EXIT
exe=$(winpath "$build_dir/Runwarden.exe")

# Nothing for the start-up check to ask about: empty autostart places. And a
# desktop named so that Wine shows its taskbar from the start.
reg export "HKCU\\$folders" "$(winpath "$work/user-folders.reg")" /y >/dev/null &&
  reg export "HKLM\\$folders" "$(winpath "$work/machine-folders.reg")" /y >/dev/null ||
  fail "cannot save the shell folders"
{ cat <<'EOF'
REGEDIT4
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"AppData"="C:\\rwtest\\tray_acceptance\\AppData"
"Startup"="C:\\rwtest\\tray_acceptance\\Startup"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Common Startup"="C:\\rwtest\\tray_acceptance\\Common Startup"
[HKEY_CURRENT_USER\Software\Microsoft\Windows NT\CurrentVersion\Windows]
"run"=-
"load"=-
[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops\rwaccept]
"EnableShell"=dword:00000001
EOF
  empty_run_keys
} >"$work/quiet.reg"
reg import "$(winpath "$work/quiet.reg")" >/dev/null || fail "cannot quieten the autostart places"
# A first check, away from the desktop, takes the prefix's services as they
# are (on the desktop a balloon over the icon would say so).
timeout 60 "$WINE64" "$exe" -once >/dev/null 2>&1 </dev/null || fail "a first check with -once failed"

# The desktop closes once no program runs on it. cmd, waiting for input from
# a pipe that only this script holds open, keeps it for the whole test.
mkfifo "$work/hold" && exec 3<>"$work/hold"
"$WINE64" explorer "/desktop=$desk,${W}x$H" cmd <"$work/hold" >/dev/null 2>&1 3>&- &
# On the bare desktop, the taskbar is all that is not background.
taskbar_shown() {
  shot before && strip=$(convert "$work/before.png" -format %@ info: 2>/dev/null)
  [[ $strip =~ ^${W}x([0-9]+)\+0\+([0-9]+)$ ]] && [ $((BASH_REMATCH[1] + BASH_REMATCH[2])) = "$H" ]
}
wait_for 20 taskbar_shown || fail "the desktop shows no taskbar at its bottom (non-background: $strip)"
bar_top=${strip##*+}

# The program's icon appears in the taskbar: the colour of its outline does.
icon_in() {
  convert "$work/$1.png" -crop "$strip" +repage -fill black +opaque "$outline" -fill white -opaque "$outline" \
    -format %@ info: 2>/dev/null
}
icon_shown() { shot started && icon=$(icon_in started) && [ "${icon%%x*}" != 0 ]; }
[ "$(icon_in before | cut -dx -f1)" = 0 ] || fail "the icon's colour is in the taskbar before the start"
on_desktop "$exe" || fail "cannot start $exe on the desktop"
wait_for 20 icon_shown || fail "no tray icon appeared in the taskbar (see started.png)"
read -r icon_w icon_h icon_x icon_y <<<"$(tr 'x+' '  ' <<<"$icon")"
[ "$icon_w" -le 32 ] && [ "$icon_h" -le 32 ] || fail "the icon's colour covers $icon, more than an icon"
icon_x=$((icon_x + icon_w / 2)) icon_y=$((bar_top + icon_y + icon_h / 2))
no_windows runwarden.exe || fail "the start-up check asked something (see started.png)"


# A left click runs a check, which ends in the box "Проверка завершена": it
# looks like that box shown by Wine's wscript, but for the row of the OK
# button, which Wine frames differently in the two boxes. Return closes a box.
box_shown() { [ "$(titles_of "$1")" = Runwarden ] && steady "$2"; }
text_of() { # the box above its button row; wscript's box also has a taskbar button
  convert "$work/$1.png" -crop "$(changed started "$1" "${W}x$bar_top+0+0")" +repage -gravity south -chop 0x40 \
    "$work/$1-text.png"
}
printf 'MsgBox "Проверка завершена", vbInformation, "Runwarden"\r\n' | iconv -t CP1251 >"$work/box.vbs"
on_desktop wscript "$(winpath "$work/box.vbs")" && wait_for 20 box_shown wscript.exe reference ||
  fail "wscript showed no box"
xdotool key Return && wait_for 10 no_pids "$reference_process" || fail "Return did not close wscript's box"
click_icon 1 left
wait_for 20 box_shown runwarden.exe box || fail "no box with caption Runwarden after a left click"
text_of reference && text_of box &&
  compare -metric AE "$work/reference-text.png" "$work/box-text.png" null: 2>/dev/null ||
  fail "the box does not look like the box 'Проверка завершена' (see box.png, reference.png)"
xdotool key Return && wait_for 10 no_windows runwarden.exe || fail "Return did not close the box"

# A right click opens the menu at the cursor, laid out as the resource says:
# a line per row, the item's command or "-" for a separator. On the screen a
# row is a run of lines with ink; a separator, a single line.
layout=$(sed -n '/^IDR_TRAYMENU/,/^END/s/^ *MENUITEM *\(SEPARATOR\|"[^"]*", *\(IDM_[A-Z]*\)\)$/\2/p' \
  "$(dirname "$0")/../resources/Runwarden.rc" | sed 's/^$/-/')
menu_shown() { titles_of runwarden.exe | grep -qx '' && steady "$1"; } # a menu has no title
open_menu() {
  click_icon 3 "$1"
  wait_for 20 menu_shown "$1" || fail "no menu opened on a right click"
  read -r menu_w menu_h menu_x menu_y <<<"$(changed started "$1" | tr 'x+' '  ')"
  local x=$((icon_x + menu_w > W ? W - menu_w : icon_x)) y=$((icon_y + menu_h > bar_top ? bar_top - menu_h : icon_y))
  [ "$menu_x,$menu_y" = "$x,$y" ] || fail "the menu is at $menu_x,$menu_y, not at the cursor ($x,$y)"
  rows=$(convert "$work/$1.png" -crop "$((menu_w - 4))x$((menu_h - 2))+$((menu_x + 2))+$((menu_y + 1))" +repage \
    -fill black +opaque white -scale '1x!' -depth 8 txt:- | awk -v top=$((menu_y - 1)) 'NR > 1 { ink = !/#FFFFFF/
      if (ink && !run) first = NR
      if (!ink && run) print (NR - first > 2 ? "item" : "-"), top + int((first + NR - 1) / 2)
      run = ink }')
  [ "$(cut -d' ' -f1 <<<"$rows")" = "$(sed 's/^IDM_.*/item/' <<<"$layout")" ] ||
    fail "the menu's rows are not the resource's: $(cut -d' ' -f1 <<<"$rows" | tr '\n' ' ')"
}
choose() { # points at the item, waits until the menu marks it, and clicks
  point_to $((menu_x + menu_w / 2)) "$(paste -d' ' <(echo "$layout") <(echo "$rows") | sed -n "s/^$1 item //p")"
  wait_for 10 shows_change "$2" "choosing-$1" || fail "the menu does not mark the item under the mouse"
  xdotool click 1 || fail "xdotool cannot click $1"
}

# "Запускать с Windows" writes the program's own path as its Run value,
# quoted only when it holds a blank.
open_menu menu
cp "$work/menu.png" "$build_dir/tests/screenshots/tray_acceptance_menu.png"
choose IDM_START menu
value=$exe
[[ $exe == *' '* ]] && value="\"$exe\""
run_value_set() { [ "$(reg query "$run_key")" = "$(printf '\n%s\n    Runwarden    REG_SZ    %s' "$run_key" "$value")" ]; }
wait_for 10 run_value_set || fail "the Run key does not hold just the program's value:$(reg query "$run_key")"

# "Выход" ends the program, and the taskbar looks again as before the start.
open_menu menu-again
choose IDM_EXIT menu-again
wait_for 20 no_pids "$runwarden_process" || fail "'Exit' did not end the program"
wait_for 10 looks_like before ended "$strip" || fail "the icon stayed in the taskbar (see ended.png)"
exec 3>&-
wait_for 20 no_pids "$desktop_process" || fail "the desktop did not close after its last program"
echo "PASS in $(($(date +%s) - started)) s"
