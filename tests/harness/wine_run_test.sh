#!/bin/sh
# wine_run_test.sh WINE_RUN CRASHER: the test runner hides no crash.
# - A Windows program (CRASHER) that crashes after printing its first line
#   fails the run, and runs once.
# - Wine dying by SIGSEGV (a stand-in loader that kills itself) after the
#   program's first line: a failure, not repeated.
# - Dying before any output (a start-up fault of Wine): repeated once, and
#   the test log says so; a second such death is the result.
set -u
wine_run=$1 crasher=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

sh "$wine_run" "$crasher" >"$work/out" 2>"$work/err"
status=$?
cat "$work/out" "$work/err"
[ "$status" != 0 ] || fail "the crashing program's run answered 0"
[ "$(grep -c 'crash_after_first_line: started' "$work/out")" = 1 ] || fail "the crashing program did not run exactly once"
! grep -q 'once more' "$work/err" || fail "the crashing program was run again"

# stand_in MODE: a loader that dies by SIGSEGV; MODE "after" prints a line
# first, "before" does not, "first-only" dies before output on its first
# start only. Each start is counted in $work/starts.
stand_in() {
  cat >"$work/loader" <<STANDIN
#!/bin/sh
echo start >>"$work/starts"
case $1 in
  after) echo "program: first line" ;;
  first-only) [ "\$(wc -l <"$work/starts")" -gt 1 ] && { echo "program: ran"; exit 0; } ;;
esac
kill -SEGV \$\$
STANDIN
  chmod +x "$work/loader"
  : >"$work/starts"
}
check() {  # check MODE WANT_STATUS WANT_STARTS WANT_RETRY_NOTE
  stand_in "$1"
  TARVEL_WINE_LOADER=$work/loader sh "$wine_run" program.exe >"$work/out" 2>"$work/err"
  status=$?
  starts=$(wc -l <"$work/starts")
  echo "-- stand-in Wine dying $1: status $status, $starts start(s)"
  cat "$work/err"
  [ "$status" = "$2" ] || fail "$1: status $status, want $2"
  [ "$starts" = "$3" ] || fail "$1: $starts start(s), want $3"
  if [ "$4" = yes ]; then
    grep -q 'before .* printed its first line.*once more' "$work/err" || fail "$1: the retry is not in the log"
  else
    ! grep -q 'once more' "$work/err" || fail "$1: retried"
  fi
}
check after 139 1 no
check first-only 0 2 yes
check before 139 2 yes

[ $failures = 0 ] && echo "the runner hides no crash"
exit $((failures > 0))
