#!/bin/sh
# check_package.sh ZIP CHECK_DLL LNG CHM WINE_RUN HOST SYMBOLS_ZIP: the
# package a user installs holds exactly tarvel.dll, tarvel.lng, tarvel.chm
# and INSTALL.txt at its top; the DLL has its twelve exports and imports
# only system DLLs (CHECK_DLL), carries no debug sections but its names
# table and a debug link to tarvel.dll.debug, keeps its resources and still
# works (the stand-in HOST runs it under Wine, WINE_RUN); the language and
# help files are the shipped ones; SYMBOLS_ZIP holds exactly
# tarvel.dll.debug, the debug information of that very DLL.
set -eu
zip=$1 check_dll=$2 lng=$3 chm=$4 wine_run=$5 host=$6 symbols_zip=$7
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

entries=$(cmake -E tar tf "$zip" | sort | tr '\n' ' ')
if [ "$entries" != "INSTALL.txt tarvel.chm tarvel.dll tarvel.lng " ]; then
  echo "the package holds: $entries"
  status=1
fi
(cd "$work" && cmake -E tar xf "$zip")

sh "$check_dll" "$work/tarvel.dll" || status=1
if "$objdump" -h "$work/tarvel.dll" | grep -Eq '[[:space:]]\.(z?debug|stab)'; then
  echo "the packaged DLL has debug sections:"
  "$objdump" -h "$work/tarvel.dll" | grep -E '\.(z?debug|stab)'
  status=1
fi
"$objdump" -p "$work/tarvel.dll" | grep -q 'Resource Directory' || {
  echo "the packaged DLL lost its resources (version, manifest)"
  status=1
}
if ! "$objdump" -h "$work/tarvel.dll" | grep -q '[[:space:]]\.tvsyms[[:space:]]'; then
  echo "the packaged DLL has no names table (.tvsyms): its crash reports would name no function"
  status=1
fi
link=$("$objdump" -s -j .gnu_debuglink "$work/tarvel.dll" 2>/dev/null | grep -c 'tarvel.dll.debug' || true)
[ "$link" -ge 1 ] || { echo "the packaged DLL has no debug link to tarvel.dll.debug"; status=1; }
symbols=$(cmake -E tar tf "$symbols_zip" | sort | tr '\n' ' ')
if [ "$symbols" != "tarvel.dll.debug " ]; then
  echo "the symbols package holds: $symbols"
  status=1
else
  mkdir "$work/symbols"
  (cd "$work/symbols" && cmake -E tar xf "$symbols_zip")
  # The same build: the debug file's code section has the DLL's size.
  text_of() { "$objdump" -h "$1" | awk '$2 == ".text" {print $3}'; }
  [ "$(text_of "$work/tarvel.dll")" = "$(text_of "$work/symbols/tarvel.dll.debug")" ] ||
    { echo "tarvel.dll.debug is not the debug information of the packaged DLL"; status=1; }
fi
cmp -s "$work/tarvel.lng" "$lng" || { echo "tarvel.lng is not the shipped language file"; status=1; }
cmp -s "$work/tarvel.chm" "$chm" || { echo "tarvel.chm is not the built help file"; status=1; }
printf '[Common]\r\n' >"$work/check.ini"
if ! (cd "$work" && sh "$wine_run" "$host" options --module tarvel.dll --ini check.ini \
        --set Var1=PACKED --set Type1=Hour >host.out 2>&1) ||
   ! grep -q '^Var1=PACKED' "$work/check.ini"; then
  echo "the packaged DLL did not work in the host:"
  cat "$work/host.out"
  status=1
fi
grep -q 'tarvel.dll, tarvel.lng and tarvel.chm' "$work/INSTALL.txt" ||
  { echo "INSTALL.txt does not say what to copy"; status=1; }
[ $status = 0 ] && echo "package as shipped: $entries"
exit $status
