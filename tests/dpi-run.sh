#!/bin/sh
# Runs one program of the x86_64 build with the screen at another DPI:
# dpi-run.sh BUILD DPI EXE ARGS... The setting is the prefix's, so it is
# made for this run only and taken back after it.
. "$(dirname "$0")/wine-env.sh"
dpi=$2
shift 2
# The program under test checks that it runs at the DPI asked for.
export RUNWARDEN_TEST_DPI="$dpi"
key='HKCU\Control Panel\Desktop'
"$WINE64" reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 </dev/null
"$WINE64" "$@"
code=$?
"$WINE64" reg delete "$key" /v LogPixels /f >/dev/null 2>&1 </dev/null
exit $code
