#!/bin/sh
# wine-run.sh PROGRAM ARGS...: runs a Windows program under Wine in a
# private prefix ($WINEPREFIX, default build/win32/wineprefix), the way
# this machine can (wine-env.sh: natively, or the 32-bit Wine under an
# i386 emulator). CTest's emulator for the Windows build trees. A detached
# Wine server is started first, so CTest's pipes are not inherited by it
# (that would make every test wait for the server to exit).
#
# Crashes are never hidden. Wine itself can die by SIGSEGV while it starts
# a program; only such a start is repeated, once, and the test log says so.
# It is told from a crash of the program by the program's output: one that
# printed its first line had started, and its end by SIGSEGV is a failure
# like any other.
here=$(cd "$(dirname "$0")" && pwd)
tarvel_root=$(cd "$here/.." && pwd)
. "$here/wine-env.sh"
: "${WINEPREFIX:=$tarvel_root/build/win32/wineprefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ "$TARVEL_WINE_MODE" = none ]; then
  echo "wine-run: cannot run $1: $TARVEL_WINE_WHY" >&2
  exit 127
fi
# TARVEL_WINE_LOADER stands in for Wine in the harness's own tests.
loader=${TARVEL_WINE_LOADER:-$(tarvel_wine_loader "$1")}
[ -n "${TARVEL_WINE_LOADER:-}" ] || tarvel_wine_server 30 keep

out=$(mktemp)
trap 'rm -f "$out" "$out.rc"' EXIT
run() {
  { tarvel_in_wine_ns "$loader" "$@"; echo $? >"$out.rc"; } | tee "$out"
  status=$(cat "$out.rc")
}
run "$@"
if [ "$status" = 139 ] && [ ! -s "$out" ]; then
  echo "wine-run: Wine died by SIGSEGV before $1 printed its first line (a start-up fault of Wine, not of the program); starting it once more" >&2
  : >"$out"
  run "$@"
fi
if [ "$status" = 139 ] && [ -s "$out" ]; then
  echo "wine-run: $1 died by SIGSEGV after it started: a crash, not repeated" >&2
elif [ "$status" = 139 ]; then
  echo "wine-run: Wine died by SIGSEGV again before $1 printed anything: not repeated" >&2
fi
exit "$status"
