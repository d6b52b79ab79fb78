#!/bin/sh
# Runs a win32 program that shows windows (dialogs, a host's main window):
# under a private X server (xvfb-run) and in a Wine prefix of its own, kept
# apart from the headless tests' prefix because a Wine server started
# without a display breaks later runs that need one. The server is ended
# afterwards, pass or fail. "--sh SCRIPT ARGS" runs a shell script there
# instead of a program (it finds wine and xdotool on the path, DISPLAY set).
# The prefix is $WINEPREFIX with "-gui" appended (default
# build/win32/wineprefix-gui). Runs are meant to be serialised (CTest
# RESOURCE_LOCK wine_gui): they share that prefix.
here=$(cd "$(dirname "$0")" && pwd)
base=${WINEPREFIX:-$here/../build/win32/wineprefix}
WINEPREFIX=${base%-gui}-gui
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
mkdir -p "$WINEPREFIX"
if [ "$1" = "--sh" ]; then
  shift
  set -- sh "$@"
else
  set -- wine "$@"
fi
exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" sh -c '
  wineserver -p5 </dev/null >/dev/null 2>&1
  wine wineboot </dev/null >/dev/null 2>&1
  "$@"
  status=$?
  wineserver -k 2>/dev/null
  exit $status' sh "$@"
