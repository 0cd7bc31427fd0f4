#!/bin/sh
# The Windows updater's whole job under Wine, in its console: qarnauto.exe
# updates from an nginx on 127.0.0.1 (started here, on the Linux side), and
# the test checks what a player's Windows would hold afterwards: the tree in
# the install folder, the "STARTUP" value in the 32-bit registry view, the
# .lnk on the desktop, the client play.exe (a Windows program) started with
# "blacknull", and exit code 0. A second run finds the folder through the
# registry and updates it again. Then the update by blocks, counted by
# nginx: an unchanged start fetches the package's header alone, and a start
# killed (kill -9) while a new version's blocks come fetches, next time,
# only what it still lacks, and installs that version byte for byte.
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

# The body bytes nginx has sent since the last call.
served() {
  awk '{ s += $10 } END { print s + 0 }' "$work/access.log"
  : > "$work/access.log"
}
package_size() { stat -c %s "$work/www/qarn/qarn.7z"; }

served > /dev/null
rm -f "$installed/started.txt"
run_updater
bytes=$(served)
[ "$bytes" -gt 0 ] && [ "$bytes" -lt 65536 ] || fail "an unchanged start fetched $bytes bytes"
grep -q "update by blocks: 3 entries up to date, 0 to write" "$work/updater/qarnAutoLog.log" ||
  fail "the unchanged start was not an update by blocks"
wait_for_client "$installed"

# Version 3, served at 1 MB/s: the start is killed once the journal shows
# pieces coming in.
head -c 4000000 /dev/urandom > "$work/package/data.bin"
rm -f "$work/www/qarn/qarn.7z"
(cd "$work/package" && 7zz a -bso0 -bsp0 "$work/www/qarn/qarn.7z" .)
chmod -R a+rX "$work/www"
kill "$(cat "$work/nginx.pid")"
sleep 0.5
"$here/scripts/start_nginx.sh" "$work" "$work/www" "$port" 1m || fail "nginx did not start again"
rm -f "$installed/started.txt"
(cd "$work/updater" && export QARNAUTO_DRIVE_SCOPE='C:\' && exec "$wine_run" qarnauto.exe "http://127.0.0.1:$port/qarn\$$suffix\$$name" \
  < /dev/null > "$work/killed.txt" 2>&1) &
updater=$!
# The bytes the journal says are on the disk: the last "OFFSET+LENGTH@DONE"
# of each piece.
recorded() {
  awk -F@ 'NF == 2 { done[$1] = $2 } END { for (k in done) s += done[k]; print s + 0 }' \
    "$installed/Download/blocks/journal" 2> /dev/null || echo 0
}
# Late enough that a start that began again from nothing would fetch more
# than the package and the slack below.
for _ in $(seq 1 600); do
  [ "$(recorded)" -ge 1500000 ] && break
  sleep 0.1
done
[ "$(recorded)" -ge 1500000 ] || fail "the journal recorded only $(recorded) bytes while the blocks came"
# The subshell's exec made it wine's process, which runs qarnauto.exe.
kill -9 "$updater"
wait "$updater" 2> /dev/null || true
sleep 1
killed=$(served)
cmp -s "$work/package/data.bin" "$installed/data.bin" && fail "the killed start had already installed version 3"
kill "$(cat "$work/nginx.pid")"
sleep 0.5
"$here/scripts/start_nginx.sh" "$work" "$work/www" "$port" || fail "nginx did not start a third time"
run_updater
bytes=$(served)
cmp -s "$work/package/data.bin" "$installed/data.bin" || fail "version 3 was not installed after the kill"
size=$(package_size)
[ "$bytes" -lt "$size" ] || fail "after the kill ($killed bytes fetched) the next start fetched $bytes of $size bytes"
# Nothing twice but what the journal had not yet recorded when the kill
# came (it records every 256 KiB), and what the server had sent that never
# reached the disk.
[ $((killed + bytes)) -le $((size + 524288)) ] ||
  fail "the killed start fetched $killed bytes and the next $bytes: more than the package's $size and 512 KiB"
wait_for_client "$installed"
echo "killed after $killed bytes; the next start fetched $bytes of the package's $size"

# What the test made in the shared prefix goes.
WINEPREFIX=$WINEPREFIX wine reg delete "$key" /reg:32 /f > /dev/null 2>&1 || true
rm -rf "$installed" "$link"
echo "qarnauto.exe updated $suffix under Wine: tree, STARTUP, $name.lnk, client started"
