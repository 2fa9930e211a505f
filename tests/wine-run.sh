#!/bin/sh
# Runs one program of the x86_64 build under wine64: wine-run.sh BUILD EXE ARGS...
# wine-env.sh takes the build folder as $1.
. "$(dirname "$0")/wine-env.sh"
shift
exec "$WINE64" "$@"
