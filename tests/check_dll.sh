#!/bin/sh
# Checks the shipped DLL's binary surface: the twelve exports under their
# plain names, and imports from Windows system DLLs only.
set -eu
dll=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
dump=$($objdump -p "$dll")
status=0
for name in GetPluginIntfVersion GetAppMinVersion GetModuleDescription GetModuleType \
            GetCustomCommands GetLogEx ShowOptionsDialog ExecutePluginCommand GetData \
            GetEvents ProcessData MultiThreadSupport; do
  if ! printf '%s\n' "$dump" | grep -Eq "^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+$name\$"; then
    echo "missing or decorated export: $name"
    status=1
  fi
done
if printf '%s\n' "$dump" | grep -Eq '\[[[:space:]]*[0-9]+\][[:space:]]+[A-Za-z_]+@[0-9]+$'; then
  echo "decorated export names found"
  status=1
fi
allowed='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|version|comctl32|shlwapi|shell32|comdlg32|msvcrt|ntdll|api-ms-win-[a-z0-9-]+)\.dll$'
for dep in $(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
  if ! printf '%s\n' "$dep" | grep -Eq "$allowed"; then
    echo "imports a non-system DLL: $dep"
    status=1
  fi
done
[ $status = 0 ] && echo "exports and imports as shipped"
exit $status
