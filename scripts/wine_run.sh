#!/bin/sh
# Runs a Windows program of the Windows build under Wine, in a Wine prefix
# of the tests' own ($QARNAUTO_WINEPREFIX, else one per user in the
# temporary folder), never the user's. The first run makes the prefix and
# leaves its server running, with its output on /dev/null: Wine's service
# processes would otherwise hold the caller's output open (ctest waits for
# it to close) and each run would pay for starting them again.
set -eu
export WINEPREFIX="${QARNAUTO_WINEPREFIX:-${TMPDIR:-/tmp}/qarnauto-wineprefix-$(id -u)}"
export WINEDEBUG="${WINEDEBUG:--all}"
if ! wineserver -k0 2> /dev/null; then
  mkdir -p "$WINEPREFIX"
  wineserver -p < /dev/null > /dev/null 2>&1
  wineboot -i < /dev/null > /dev/null 2>&1 || true
fi
exec wine "$@"
