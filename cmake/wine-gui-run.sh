#!/bin/sh
# Runs a Windows program that shows windows (dialogs, a host's main window):
# under a private X server (xvfb-run) and in a Wine prefix of its own, kept
# apart from the headless tests' prefix because a Wine server started
# without a display breaks later runs that need one. The server is ended
# afterwards, pass or fail. "--sh SCRIPT ARGS" runs a shell script there
# instead of a program (it finds `wine` and xdotool on the path, DISPLAY
# set; that `wine` picks the loader as wine-env.sh says). The prefix is
# $WINEPREFIX with "-gui" appended (default build/win32/wineprefix-gui).
# Runs are meant to be serialised (CTest RESOURCE_LOCK wine_gui): they
# share that prefix.
here=$(cd "$(dirname "$0")" && pwd)
tarvel_root=$(cd "$here/.." && pwd)
. "$here/wine-env.sh"
if [ "$TARVEL_WINE_MODE" = none ]; then
  echo "wine-gui-run: cannot run $1: $TARVEL_WINE_WHY" >&2
  exit 127
fi
base=${WINEPREFIX:-$tarvel_root/build/win32/wineprefix}
WINEPREFIX=${base%-gui}-gui
export WINEPREFIX tarvel_root
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export PATH="$here/wine-bin:$PATH"
mkdir -p "$WINEPREFIX"
if [ "$1" = "--sh" ]; then
  shift
  set -- sh "$@"
else
  set -- wine "$@"
fi
# One namespace for the X server, the Wine server and the program. The
# desktop is up before the program starts (the keeper): a cold start of it
# under load can outlast Wine's wait for it, and the program's first window
# would then fail.
tarvel_in_wine_ns xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" sh -c '
  . "$tarvel_root/cmake/wine-env.sh"
  tarvel_wine_server 5 keep
  "$@"
  status=$?
  tarvel_wine_stop
  exit $status' sh "$@"
