#!/bin/sh
# Runs a win32 program under Wine with a private prefix. A detached
# wineserver is started first so CTest's pipes are not inherited by it
# (that would make every test wait for the server to exit).
: "${WINEPREFIX:=$(cd "$(dirname "$0")/.." && pwd)/build/win32/wineprefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
mkdir -p "$WINEPREFIX"
if wineserver -p30 </dev/null >/dev/null 2>&1; then
  wine wineboot </dev/null >/dev/null 2>&1
fi
wine "$@"
status=$?
# Wine itself now and then dies by SIGSEGV as a program ends, after the
# program has done its work (a fault of the program ends it with an
# exception code instead). Such a run is repeated once rather than counted
# against the program.
if [ "$status" -eq 139 ]; then
  echo "wine-run: wine died by SIGSEGV; running $1 once more" >&2
  wine "$@"
  status=$?
fi
exit "$status"
