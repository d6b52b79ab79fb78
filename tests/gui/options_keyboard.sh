#!/bin/sh
# options_keyboard.sh BUILD_DIR: the options dialog through the stand-in
# host, driven by the keyboard (xdotool) on the X server that
# cmake/wine-gui-run.sh started:
#  1. Tab to the first row, type a variable name and a timeout, choose a
#     unit by its first letter, type an event name, Tab to OK, Enter: the
#     values are in the INI file the host named, and the feed replayed
#     after the dialog raises the event the new row asks for;
#  2. Esc, and Enter in an edit, close as Cancel: the settings stay;
#  3. F1 opens the help viewer on the help file beside the module.
set -u
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
status=0
fail() { echo "FAIL: $*"; status=1; }

# start_dialog ARGS: runs the host with "options ARGS" in the background
# and waits for its dialog; DIALOG is the dialog's window.
start_dialog() {
  wine "$build/tarvel-host.exe" options --ini options.ini "$@" >out.txt 2>err.txt &
  HOST=$!
  # Only once it is shown: a window that exists but is not yet mapped
  # cannot take the focus (X answers BadMatch and the keys go nowhere).
  DIALOG=$(timeout 60 xdotool search --sync --onlyvisible --name '^Tarvel [0-9]' | head -n 1)
  [ -n "$DIALOG" ] || { fail "no dialog"; cat err.txt; return 1; }
  xdotool mousemove 0 0 windowfocus --sync "$DIALOG"
}
keys() { xdotool key --delay 60 "$@"; }
text() { xdotool type --delay 40 "$1"; }
# finish: waits for the host (at most 60 s); HOST_STATUS is its exit code.
finish() {
  if ! timeout 60 sh -c "while kill -0 $HOST 2>/dev/null; do sleep 0.2; done"; then
    fail "the host did not end"
    kill "$HOST"
  fi
  wait "$HOST"
  HOST_STATUS=$?
}
has() { grep -q "^$1\$" options.ini || fail "options.ini lacks $1"; }

cat >feed.txt <<'FEED'
CLIENTID=1 TEMP=20.5 PRESS=3
+300
CLIENTID=1 PRESS=3
FEED

echo "== keyboard entries, then OK"
printf '[Common]\r\n' >options.ini
if start_dialog --feed feed.txt --linger 2500; then
  keys Tab Tab Tab Tab Tab Tab  # from Cancel past the options below to the first row
  text TEMP
  keys Tab
  text 1
  keys Tab s Tab  # Second
  text temp-lost
  keys Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab  # the other rows, then OK
  keys Return
  finish
  tr -d '\r' <options.ini >ini.txt && mv ini.txt options.ini
  [ "$HOST_STATUS" = 0 ] || fail "host exit $HOST_STATUS"
  grep -q 'options: confirmed' err.txt || fail "not confirmed"
  has Var1=TEMP
  has Type1=1
  has Val1=1
  has Event1=temp-lost
  grep -q '^+[0-9.]*s EVENT TEMP-LOST CLIENTID-ITEM=1 PARSER-ITEM="temp"$' out.txt ||
    fail "the running monitor did not raise TEMP-LOST"
  cat out.txt
fi

for how in Escape Enter; do
  echo "== $how closes as Cancel"
  if start_dialog; then
    if [ $how = Enter ]; then
      keys Tab Tab Tab Tab Tab Tab
      text CHANGED
      keys Return
    else
      keys Tab Tab Tab Tab Tab Tab
      text CHANGED
      keys Escape
    fi
    finish
    tr -d '\r' <options.ini >ini.txt && mv ini.txt options.ini
    [ "$HOST_STATUS" = 4 ] || fail "$how: host exit $HOST_STATUS, not 4 (cancelled)"
    has Var1=TEMP
  fi
done

echo "== F1 opens the help"
if start_dialog; then
  keys F1
  timeout 30 xdotool search --sync --name '^Tarvel Help$' >/dev/null || fail "no help window"
  # The viewer now has the keyboard; the run ends here.
  kill "$HOST"
  wait "$HOST"
fi
[ $status = 0 ] && echo "options dialog driven by the keyboard as expected"
exit $status
