#!/bin/sh
# Runs a 32-bit Windows program under Wine in the given prefix:
#   wine-run.sh PREFIX PROGRAM.exe [ARGS...]
# The prefix is created on first use; scripts/wine-prepare.sh does that ahead of a test run.
prefix="$1"
shift
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all
if [ ! -f "$prefix/system.reg" ]; then
    "$(dirname "$0")/wine-prepare.sh" "$prefix"
fi
exec /usr/lib/wine/wine "$@"
