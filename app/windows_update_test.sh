#!/bin/sh
# The Windows updater's whole job under Wine, in its console: qarnauto.exe
# updates from an nginx on 127.0.0.1 (started here, on the Linux side), and
# the test checks what a player's Windows would hold afterwards: the tree in
# the install folder, the "STARTUP" value in the 32-bit registry view, the
# .lnk on the desktop, the client play.exe (a Windows program) started with
# "blacknull", and exit code 0. A second run finds the folder through the
# registry and updates it again.
#   app/windows_update_test.sh QARNAUTO_EXE CLIENT_EXE
set -eu
exe=$1
client=$2
here=$(cd "$(dirname "$0")/.." && pwd)
wine_run=$here/scripts/wine_run.sh
export WINEPREFIX="${QARNAUTO_WINEPREFIX:-${TMPDIR:-/tmp}/qarnauto-wineprefix-$(id -u)}"
export WINEDEBUG=-all
# No display: the updater takes its terminal mode, and the tests never show
# anything on the screen of the person who runs them.
unset DISPLAY

work=$(mktemp -d)
trap '[ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null; rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*" >&2
  [ -f "$work/out.txt" ] && { echo "-- its output:" >&2; tail -n 20 "$work/out.txt" >&2; }
  [ -f "$work/updater/qarnAutoLog.log" ] && { echo "-- run log:" >&2; tail -n 30 "$work/updater/qarnAutoLog.log" >&2; }
  exit 1
}

# The package: the client, a Chinese-named file in a folder, some data.
mkdir -p "$work/package/界面" "$work/www/qarn" "$work/tmp" "$work/updater"
cp "$client" "$work/package/play.exe"
echo "version 2" > "$work/package/界面/说明.txt"
head -c 2000000 /dev/urandom > "$work/package/data.bin"
(cd "$work/package" && 7zz a -bso0 -bsp0 "$work/www/qarn/qarn.7z" .)
chmod -R a+rX "$work"

port=$(( 20000 + $$ % 20000 ))
"$here/scripts/start_nginx.sh" "$work" "$work/www" "$port" || fail "nginx did not start"

# The updater in a folder of its own, where its run log lands; it installs
# on drive C: only (Wine's Z: is the whole Linux file system).
cp "$exe" "$work/updater/qarnauto.exe"
suffix=E2E$$
name="Valdris Test $$"
drive_c=$WINEPREFIX/drive_c
folder="$drive_c/program files (x86)/Talvora/$suffix"
key='HKLM\SOFTWARE\Microsoft\QARN_STARTUP_'$suffix

run_updater() {
  status=0
  (cd "$work/updater" && printf 'y\ny\ny\n' |
    QARNAUTO_DRIVE_SCOPE='C:\' "$wine_run" qarnauto.exe "http://127.0.0.1:$port/qarn\$$suffix\$$name") \
    > "$work/out.txt" 2>&1 || status=$?
  [ "$status" -eq 0 ] || { cat "$work/out.txt" >&2; fail "exit code $status"; }
}

# Wine starts the client on its own: it may still be starting when the
# updater has ended.
wait_for_client() {
  for _ in $(seq 1 100); do
    [ -s "$1/started.txt" ] && return 0
    sleep 0.2
  done
  fail "the client was not started"
}

run_updater
# Wine keeps the folder's case as the updater gave it.
installed=$(find "$drive_c" -maxdepth 4 -ipath "$folder" -type d | head -n 1)
[ -n "$installed" ] || fail "no install folder $folder"
cmp -s "$work/package/data.bin" "$installed/data.bin" || fail "data.bin differs"
[ "$(cat "$installed/界面/说明.txt")" = "version 2" ] || fail "the Chinese-named file is missing"
wait_for_client "$installed"
started=$(tr -d '\r' < "$installed/started.txt")
case "$started" in
  "blacknull C:\\program files (x86)\\Talvora\\$suffix") ;;
  *) fail "the client was started as '$started'" ;;
esac

value=$(WINEPREFIX=$WINEPREFIX wine reg query "$key" /v STARTUP /reg:32 2>/dev/null | tr -d '\r' |
  sed -n 's/^ *STARTUP *REG_SZ *//p')
[ "$value" = "C:\\program files (x86)\\Talvora\\$suffix" ] || fail "STARTUP is '$value'"

link=$(find -L "$drive_c/users" -maxdepth 3 -path '*/Desktop/*' -name "$name.lnk" 2>/dev/null | head -n 1)
[ -n "$link" ] || fail "no $name.lnk on the desktop"
# The shortcut's target, as its ANSI local path.
grep -a -q 'Talvora.'"$suffix"'.play\.exe' "$link" || fail "the shortcut does not lead to play.exe"

# Again: the registry names the folder, and the update lands there.
rm -f "$installed/started.txt" "$installed/data.bin"
run_updater
cmp -s "$work/package/data.bin" "$installed/data.bin" || fail "the second update did not land"
wait_for_client "$installed"

# What the test made in the shared prefix goes.
WINEPREFIX=$WINEPREFIX wine reg delete "$key" /reg:32 /f > /dev/null 2>&1 || true
rm -rf "$installed" "$link"
echo "qarnauto.exe updated $suffix under Wine: tree, STARTUP, $name.lnk, client started"
