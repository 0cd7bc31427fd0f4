#!/bin/sh
#   scripts/wine_run.sh PROGRAM.exe [ARGUMENT...] | --prepare
# Runs a Windows program of the Windows build under Wine, in a Wine prefix
# of the tests' own ($QARNAUTO_WINEPREFIX, else one per user in the
# temporary folder), never the user's. The first run makes the prefix and
# leaves its server running, with its output on /dev/null: Wine's service
# processes would otherwise hold the caller's output open (ctest waits for
# it to close) and each run would pay for starting them again.
set -eu
export WINEPREFIX="${QARNAUTO_WINEPREFIX:-${TMPDIR:-/tmp}/qarnauto-wineprefix-$(id -u)}"
export WINEDEBUG="${WINEDEBUG:--all}"
# A new prefix links its Desktop and Documents to $HOME, and Wine copies
# shortcuts into the user's menus: a home of the prefix's own, and no menu
# builder, keep the user's desktop and menus untouched.
export HOME="$WINEPREFIX.home"
mkdir -p "$HOME"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe=d}"
# Test discovery starts several programs at once: one of them makes the
# prefix while the others wait for it.
mkdir -p "$WINEPREFIX"
(
  flock 9
  if ! wineserver -k0 2> /dev/null; then
    new_prefix=1
    [ ! -e "$WINEPREFIX/system.reg" ] || new_prefix=0
    # The server and Wine's services outlive this: they must not hold the lock.
    wineserver -p < /dev/null > /dev/null 2>&1 9>&-
    wineboot -i < /dev/null > /dev/null 2>&1 9>&- || true
    if [ "$new_prefix" = 1 ]; then
      # The services of the boot that made the prefix cannot start COM's
      # RpcSs: every program that then needs a window waits 10 s for a
      # desktop that cannot come, over and over. A second boot of the
      # finished prefix starts it at once.
      wineserver -k 2> /dev/null || true
      wineserver -w 2> /dev/null || true
      wineserver -p < /dev/null > /dev/null 2>&1 9>&-
      wineboot < /dev/null > /dev/null 2>&1 9>&- || true
    fi
    wine sc start rpcss < /dev/null > /dev/null 2>&1 9>&- || true
  fi
  # The updater writes in "微软雅黑", which Wine does not have: the Chinese
  # face the tests install stands in for it, as it would on a Chinese
  # Windows without that font. regedit reads UTF-16 with a byte-order mark.
  if [ ! -e "$WINEPREFIX/.qarnauto-fonts" ]; then
    reg=$(mktemp)
    printf '\357\273\277Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"微软雅黑"="WenQuanYi Micro Hei"\r\n' |
      iconv -f UTF-8 -t UTF-16LE > "$reg"
    wine regedit /S "$reg" < /dev/null > /dev/null 2>&1 9>&- && touch "$WINEPREFIX/.qarnauto-fonts"
    rm -f "$reg"
  fi
) 9> "$WINEPREFIX.lock"
# With --prepare only the prefix is made (before tests are discovered).
[ "${1:-}" != --prepare ] || exit 0
exec wine "$@"
