# wine-env.sh: sourced (". wine-env.sh") by everything that runs Windows
# programs under Wine: the test runners wine-run.sh and wine-gui-run.sh,
# scripts/bench, scripts/screenshots, scripts/demo, the package check and
# the Makefile. One place decides how this machine runs the 32-bit build,
# by running a 32-bit program (scripts/probe-i386), never by a guess:
#
#   native     the kernel runs i386 code: Debian's 32-bit Wine as it is.
#   emulated   the kernel refuses i386 code (built or booted without IA-32
#              emulation): the same 32-bit Wine, whose i386 code qemu-i386
#              runs. The emulator is registered in a binfmt_misc of our own
#              (a private user and mount namespace, kernel 6.7 or later), so
#              the machine's own binfmt settings are never touched. Prefixes
#              are 64-bit there: Wine's own services then run natively and
#              only the programs under test are emulated. Programs that
#              fault on purpose cannot run this way (the emulator hands a
#              page fault to Wine as an illegal instruction); their tests
#              skip with that reason and run in the 64-bit build instead.
#   none       neither works; TARVEL_WINE_WHY says why.
#
# Set tarvel_root to the source tree, then source this file. After it:
# TARVEL_WINE_MODE and TARVEL_WINE_WHY (exported, so a run probes once),
# and the functions below. Loaders are called by path:
# Debian's `wine` wrapper takes the 32-bit loader whenever it is installed,
# even where that loader cannot run.

TARVEL_WINE32=/usr/lib/wine/wine
TARVEL_WINE64=/usr/lib/wine/wine64
TARVEL_WINESERVER=/usr/lib/wine/wineserver
# (A sourced file cannot find itself in POSIX sh, hence tarvel_root.)
tarvel_wine_root=${tarvel_root:?set tarvel_root to the source tree before sourcing wine-env.sh}
TARVEL_QEMU_I386="$("$tarvel_wine_root/scripts/tools-dir")/qemu-i386"

# tarvel_in_wine_ns CMD ARGS...: runs CMD where i386 programs run. In the
# emulated mode that is a private namespace whose binfmt_misc hands them to
# qemu-i386 (inherited by every process CMD starts); elsewhere, and inside
# such a namespace already, CMD runs as it is. Every Wine process of a
# prefix (loaders and wineserver alike) must be started this way: a user
# without root sees another uid inside the namespace, hence another Wine
# server socket.
tarvel_in_wine_ns() {
  if [ "${TARVEL_WINE_MODE:-}" != emulated ] || [ -n "${TARVEL_WINE_IN_NS:-}" ]; then
    "$@"
    return
  fi
  TARVEL_WINE_IN_NS=1 unshare --user --map-root-user --mount --fork sh -c '
    qemu=$1; shift
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || exit 125
    printf ":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:%s:F\n" "$qemu" \
      >/proc/sys/fs/binfmt_misc/register || exit 125
    exec "$@"' sh "$TARVEL_QEMU_I386" "$@"
}

# The probe. A mode handed down by the caller (exported by an earlier
# probe in this run) is kept.
tarvel_wine_probe() {
  case "${TARVEL_WINE_MODE:-}" in native | emulated | none) return ;; esac
  if [ ! -x "$TARVEL_WINE32" ]; then
    TARVEL_WINE_MODE=none
    TARVEL_WINE_WHY="the 32-bit Wine ($TARVEL_WINE32) is not installed: run scripts/bootstrap"
  elif "$tarvel_wine_root/scripts/probe-i386" >/dev/null; then
    TARVEL_WINE_MODE=native
    TARVEL_WINE_WHY="this machine runs 32-bit code, so the 32-bit Wine runs natively"
  else
    refusal="the kernel refuses 32-bit programs (exec format error)"
    if [ ! -x "$TARVEL_QEMU_I386" ]; then
      TARVEL_WINE_MODE=none
      TARVEL_WINE_WHY="$refusal and $TARVEL_QEMU_I386 is missing: run scripts/bootstrap"
    else
      TARVEL_WINE_MODE=emulated
      if tarvel_in_wine_ns "$tarvel_wine_root/scripts/probe-i386" >/dev/null 2>&1; then
        TARVEL_WINE_WHY="$refusal, so the 32-bit Wine runs under qemu-i386 in a private binfmt_misc; programs that fault on purpose run in the 64-bit build under wine64"
      else
        TARVEL_WINE_MODE=none
        TARVEL_WINE_WHY="$refusal, and qemu-i386 cannot be registered in a private binfmt_misc (needs user namespaces and kernel 6.7 or later)"
      fi
    fi
  fi
  export TARVEL_WINE_MODE TARVEL_WINE_WHY
}

# tarvel_pe_arch FILE: i386 or x86_64 for a Windows program or DLL, else "".
tarvel_pe_arch() {
  [ -f "$1" ] || return 0
  pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$pe" ] || return 0
  case $(od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' ') in
    014c) echo i386 ;;
    8664) echo x86_64 ;;
  esac
}

# tarvel_wine_loader PROGRAM: the loader that runs PROGRAM. 64-bit programs
# and Wine's own commands in a 64-bit prefix take the 64-bit loader; 32-bit
# programs the 32-bit one (emulated or not).
tarvel_wine_loader() {
  case $(tarvel_pe_arch "$1") in
    x86_64) echo "$TARVEL_WINE64" ;;
    i386) echo "$TARVEL_WINE32" ;;
    *) if tarvel_wine_prefix_is_64; then echo "$TARVEL_WINE64"; else echo "$TARVEL_WINE32"; fi ;;
  esac
}

# A 64-bit prefix: the one given already is, or a new one must be (emulated
# mode, or TARVEL_WINE_PREFIX_ARCH=win64 for the 64-bit build's trees).
tarvel_wine_prefix_is_64() {
  if [ -f "$WINEPREFIX/system.reg" ]; then
    [ -d "$WINEPREFIX/drive_c/windows/syswow64" ]
  else
    [ "${TARVEL_WINE_PREFIX_ARCH:-}" = win64 ] || [ "${TARVEL_WINE_MODE:-}" = emulated ]
  fi
}

# tarvel_wine_server [SECONDS] [keep]: makes sure the prefix's Wine server
# runs, detached from the caller's pipes (CTest would otherwise wait for
# it), and the prefix is set up. The first start creates the prefix (some
# seconds); callers starting at once wait for it under a lock, so none runs
# a program in a prefix still being made. "keep" also keeps the desktop up
# (tarvel_wine_keeper).
tarvel_wine_server() {
  mkdir -p "$WINEPREFIX"
  # flock -o: what starts under the lock (the server, the keeper) outlives
  # it and must not hold the lock's file.
  flock -o "$WINEPREFIX/.tarvel-start.lock" sh -c '
    tarvel_root=$1
    shift
    . "$tarvel_root/cmake/wine-env.sh"
    tarvel_wine_server_locked "$@"' sh "$tarvel_wine_root" "$@"
}

tarvel_wine_server_locked() {
  if tarvel_in_wine_ns "$TARVEL_WINESERVER" "-p${1:-30}" </dev/null >/dev/null 2>&1; then
    tarvel_in_wine_ns "$(tarvel_wine_loader wineboot)" wineboot </dev/null >/dev/null 2>&1
    tarvel_wine_fonts
  fi
  [ "${2:-}" != keep ] || tarvel_wine_keeper
}

# tarvel_wine_keeper: keeps the prefix's desktop up while programs come and
# go. Wine closes the desktop about a second after its last program ends,
# and the next program to make a window starts it again: that program's
# explorer inherits the program's output pipe (the runner then waits for
# it to end), and a program that comes while the old desktop is going gets
# no window at all ("The explorer process failed to start"). A Wine
# program that waits on an idle pipe holds the desktop instead, and the
# desktop is started here with no pipe of the caller's. A keeper lasts ten
# minutes; one older than five is joined by a fresh one, so a long run
# never goes without.
tarvel_wine_keeper() {
  keeper=$WINEPREFIX/.tarvel-keeper
  if [ -f "$keeper" ] && kill -0 "$(tail -n 1 "$keeper")" 2>/dev/null &&
    [ -z "$(find "$keeper" -mmin +5)" ]; then
    return 0
  fi
  # A shell of its own: a subshell of this one would keep copies of the
  # caller's output (the shell's saved descriptors), and CTest would wait.
  sh -c '
    tarvel_root=$1
    keeper=$2
    . "$tarvel_root/cmake/wine-env.sh"
    {
      sleep 600 &
      echo $! >>"$keeper"
      wait
    } | tarvel_in_wine_ns "$(tarvel_wine_loader cmd.exe)" cmd.exe /c pause' \
    sh "$tarvel_wine_root" "$keeper" </dev/null >/dev/null 2>&1 &
  # rundll32 makes a window before it calls the function: that starts the
  # desktop, whose explorer then has only /dev/null.
  tarvel_in_wine_ns "$(tarvel_wine_loader rundll32.exe)" rundll32.exe user32.dll,GetDesktopWindow \
    </dev/null >/dev/null 2>&1
}

# tarvel_wine_fonts: Wine's own fonts (Debian's fonts-wine) into the
# prefix's Fonts folder, where this Wine looks for the fonts its registry
# names: without them "MS Sans Serif" becomes whatever fontconfig offers
# and the caption buttons lose their glyphs.
tarvel_wine_fonts() {
  fonts=$WINEPREFIX/drive_c/windows/Fonts
  [ -d /usr/share/wine/fonts ] && [ -d "$fonts" ] || return 0
  for f in /usr/share/wine/fonts/*; do
    [ -e "$fonts/${f##*/}" ] || cp "$f" "$fonts/"
  done
}

# tarvel_wine_stop: ends the prefix's Wine server, if one runs.
tarvel_wine_stop() {
  tarvel_in_wine_ns "$TARVEL_WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  if [ -f "$WINEPREFIX/.tarvel-keeper" ]; then
    # shellcheck disable=SC2046
    kill $(cat "$WINEPREFIX/.tarvel-keeper") 2>/dev/null || true
    rm -f "$WINEPREFIX/.tarvel-keeper"
  fi
}

tarvel_wine_probe
