#!/bin/sh
# check_symbolize.sh EMULATOR TEST_FAULTS SYMBOLIZE BUILD_DIR PROBE_SOURCE: a
# crash report line as the fault tests print it (the probe's null read,
# through the real exports, in this build: under Wine for win32) turned
# into file and line by scripts/symbolize with the build's debug
# information: its first frame is the probe's function, at the line of the
# read.
set -eu
emulator=$1 test_faults=$2 symbolize=$3 build_dir=$4 probe_source=$5
out=$($emulator "$test_faults" --gtest_filter=FaultsTest.AFaultCostsTheCallOneReportAndTheInstanceGoesOn |
      tr -d '\r')
line=$(printf '%s\n' "$out" | sed -n 's/^report line (a read through a null pointer): //p' | head -1)
if [ -z "$line" ]; then
  echo "no report line of the null read in the test's output:"
  printf '%s\n' "$out" | tail -20
  exit 1
fi
echo "report line: $line"
frames=$("$symbolize" -d "$build_dir" "$line")
printf '%s\n' "$frames" | head -8
read_line=$(grep -n 'return \*nowhere;' "$probe_source" | cut -d: -f1)
first=$(printf '%s\n' "$frames" | sed -n 2p)
case $first in
  *"tarvel::probe::Inner"*"probe_module.cpp:$read_line"*)
    echo "the first frame is the probe's read, probe_module.cpp:$read_line" ;;
  *)
    echo "the first frame should be tarvel::probe::Inner at probe_module.cpp:$read_line"
    exit 1 ;;
esac
