#!/bin/sh
# Puts the names table of a linked module's functions into the module, so
# that its crash reports name its frames (src/Common/SymbolTable.h).
#   embed-symbols.sh MODULE TOOL NM CXXFILT OBJCOPY OBJDUMP STRIP
# Windows (PE): the full debug information goes to MODULE.debug first; the
# module is then stripped as it ships, the table becomes a section the
# loader maps (.tvsyms, after the last one) and a debug link names
# MODULE.debug. POSIX (ELF): the table becomes a section that is not loaded
# (.tarvel_symbols); the module keeps its debug information.
set -eu
module=$1 tool=$2 nm=$3 cxxfilt=$4 objcopy=$5 objdump=$6 strip=$7
table="$module.symbols"
format=$("$objdump" -f "$module" | sed -n 's/.*file format //p')
case $format in
  pei-*)
    base=$("$objdump" -p "$module" | awk '$1 == "ImageBase" {print $2}')
    underscore=
    [ "$format" = pei-i386 ] && underscore=--strip-underscore
    "$nm" --defined-only "$module" | "$cxxfilt" -p | "$tool" --image-base "$base" $underscore "$table"
    "$objcopy" --only-keep-debug "$module" "$module.debug"
    "$strip" --strip-all "$module"
    # The first free address after the sections the loader maps, in whole
    # pages of the image's section alignment.
    align=$("$objdump" -p "$module" | awk '$1 == "SectionAlignment" {print $2}')
    end=0
    for pair in $("$objdump" -h "$module" | awk '
        $1 ~ /^[0-9]+$/ { size = $3; vma = $4; next }
        size != "" && /ALLOC/ { print vma ":" size }
        { size = "" }'); do
      vma=${pair%%:*} size=${pair##*:}
      [ $((0x$vma + 0x$size)) -gt $end ] && end=$((0x$vma + 0x$size))
    done
    next=$(( (end + 0x$align - 1) / 0x$align * 0x$align ))
    "$objcopy" --add-section .tvsyms="$table" \
      --set-section-flags .tvsyms=contents,alloc,load,readonly,data \
      --change-section-address .tvsyms=$next "$module"
    "$objcopy" --add-gnu-debuglink="$module.debug" "$module"
    ;;
  elf*)
    "$nm" --defined-only "$module" | "$cxxfilt" -p | "$tool" "$table"
    "$objcopy" --add-section .tarvel_symbols="$table" \
      --set-section-flags .tarvel_symbols=contents,readonly "$module"
    ;;
  *)
    echo "embed-symbols.sh: $module: unknown format '$format'" >&2
    exit 1
    ;;
esac
