#!/bin/sh
# check_chm.sh CHM CHMLS: checks the compiled help file. Its context map
# (#IVB: pairs of a context number and an offset into #STRINGS) must map 80,
# the options dialog's topic, to the options page, by a path that resolves
# inside the file (not the path the sources had on the build machine); the
# table of contents and every page the map names must be in the file.
set -eu
chm=$1
chmls=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

"$chmls" -p -n list "$chm" >"$work/list" 2>/dev/null
for name in /toc.hhc /index.htm /options.htm /#IVB /#STRINGS; do
  grep -qx "$name" "$work/list" || { echo "not in the help file: $name"; status=1; }
done
"$chmls" extract "$chm" /#IVB "$work/ivb" >/dev/null 2>&1
"$chmls" extract "$chm" /#STRINGS "$work/strings" >/dev/null 2>&1

# #IVB: a 32-bit byte count, then (context, string offset) pairs.
set -- $(od -An -v -tu4 "$work/ivb")
shift
found=""
while [ $# -ge 2 ]; do
  context=$1
  offset=$2
  shift 2
  topic=$(tail -c +$((offset + 1)) "$work/strings" | tr '\0' '\n' | head -n 1)
  echo "context $context -> $topic"
  case $topic in
    /*/*) echo "context $context names a path outside the file: $topic"; status=1 ;;
  esac
  grep -qx "/${topic#/}" "$work/list" || { echo "context $context names a missing page"; status=1; }
  [ "$context" = 80 ] && found=$topic
done
case $found in
  options.htm | /options.htm) ;;
  *) echo "context 80 maps to \"$found\", not to the options page"; status=1 ;;
esac
[ $status = 0 ] && echo "context map as shipped"
exit $status
