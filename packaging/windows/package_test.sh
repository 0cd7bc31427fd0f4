#!/bin/sh
# The Windows packages as a player meets them, under Wine: the zip holds the
# two programs and the readme; the installer, run silently, puts them in
# Program Files (x86)\Talvora with a Start-menu entry and an entry under
# Programs and Features; the installed updater runs (here without a display,
# against a server that refuses, so it asks on its terminal whether to try
# again); the uninstaller takes away all of that.
#   packaging/windows/package_test.sh BUILD_FOLDER
set -eu
build=$1
here=$(cd "$(dirname "$0")/../.." && pwd)
wine_run=$here/scripts/wine_run.sh
export WINEPREFIX="${QARNAUTO_WINEPREFIX:-${TMPDIR:-/tmp}/qarnauto-wineprefix-$(id -u)}"
export WINEDEBUG=-all
unset DISPLAY
fail() { echo "FAILED: $*" >&2; exit 1; }

packages=$("$here/scripts/package_windows.sh" "$build")
zip=$(echo "$packages" | sed -n 1p)
setup=$(echo "$packages" | sed -n 2p)
listing=$(zip -sf "$zip" | sed -n 's/^ *//p' | grep -v -e '^Archive contains' -e '^Total ' | sort | tr '\n' ' ')
version=$(basename "$zip" -windows.zip | sed 's/^qarnauto-//')
want="qarnauto-$version-windows/ qarnauto-$version-windows/nndown.dll qarnauto-$version-windows/qarnauto.exe qarnauto-$version-windows/readme.txt "
[ "$listing" = "$want" ] || fail "the zip holds: $listing"

"$wine_run" --prepare
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\qarnauto'
dir="$WINEPREFIX/drive_c/Program Files (x86)/Talvora"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quillmarch"
ours="qarnauto.exe nndown.dll qarnauto-readme.txt qarnauto-uninstall.exe qarnAutoLog.log"
# A prefix used before starts without the installer's traces.
for f in $ours; do rm -f "$dir/$f"; done
rm -rf "$menu"

# NSIS makes 32-bit installers only: on a machine that runs no 32-bit
# program the installer is checked for what it is, and the programs are
# put in place from the zip instead, as a player would by hand.
if ! "$here/scripts/runs_32bit.sh" > /dev/null; then
  file "$setup" | grep -q 'PE32 executable.*Nullsoft Installer' || fail "the installer is not an NSIS program: $(file "$setup")"
  mkdir -p "$dir"
  (cd "$(mktemp -d)" && unzip -q "$zip" && cp qarnauto-*-windows/qarnauto.exe qarnauto-*-windows/nndown.dll "$dir/") ||
    fail "the zip cannot be unpacked"
  status=0
  out=$(cd "$dir" && printf 'n\n' | QARNAUTO_DRIVE_SCOPE='C:\' "$wine_run" qarnauto.exe \
    'http://127.0.0.1:1/qarn$PKG$Package Test' 2>&1) || status=$?
  [ "$status" -eq 0 ] || fail "the updater from the zip ended with $status: $out"
  case "$out" in *"[tips]"*) ;; *) fail "the updater from the zip did not ask to try again: $out" ;; esac
  rm -rf "$dir/PKG" "$dir/qarnauto.exe" "$dir/nndown.dll" "$dir/qarnAutoLog.log" "$dir/qarnAutoLog.log.lock"
  echo "this machine runs no 32-bit program: $(basename "$setup") (32-bit) checked as an NSIS program, not run; the updater from $(basename "$zip") ran"
  exit 0
fi

"$wine_run" "$setup" /S < /dev/null > /dev/null 2>&1 || fail "the installer failed"
for f in qarnauto.exe nndown.dll qarnauto-readme.txt qarnauto-uninstall.exe; do
  [ -f "$dir/$f" ] || fail "no $f in $dir"
done
cmp -s "$build/qarnauto.exe" "$dir/qarnauto.exe" || fail "the installed qarnauto.exe differs"
[ -f "$menu/Quillmarch Updater.lnk" ] || fail "no Start-menu entry"
grep -a -q 'qarnauto\.exe' "$menu/Quillmarch Updater.lnk" || fail "the Start-menu entry leads elsewhere"
shown=$(wine reg query "$key" /v DisplayVersion /reg:32 2> /dev/null | tr -d '\r' | sed -n 's/^ *DisplayVersion *REG_SZ *//p')
[ "$shown" = "$version" ] || fail "Programs and Features shows version '$shown'"

# The installed updater runs: the download fails, and "no" to trying again
# ends it with code 0.
status=0
out=$(cd "$dir" && printf 'n\n' | QARNAUTO_DRIVE_SCOPE='C:\' "$wine_run" qarnauto.exe \
  'http://127.0.0.1:1/qarn$PKG$Package Test' 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "the installed updater ended with $status: $out"
case "$out" in
  *"[tips]"*) ;;
  *) fail "the installed updater did not ask to try again: $out" ;;
esac
[ -f "$dir/qarnAutoLog.log" ] || fail "the installed updater wrote no run log beside itself"
# The game's folder it made is the game's: the uninstaller leaves it.
rm -rf "$dir/PKG"

# The uninstaller runs a copy of itself, which ends after this returns.
"$wine_run" "$dir/qarnauto-uninstall.exe" /S < /dev/null > /dev/null 2>&1 || fail "the uninstaller failed"
for _ in $(seq 1 150); do
  [ -e "$dir/qarnauto-uninstall.exe" ] || break
  sleep 0.2
done
for f in $ours qarnAutoLog.log.lock; do
  [ ! -e "$dir/$f" ] || fail "$f is left in $dir"
done
[ ! -e "$menu" ] || fail "the Start-menu folder is left"
if wine reg query "$key" /reg:32 > /dev/null 2>&1; then fail "the uninstall entry is left"; fi
echo "installed, ran and uninstalled $(basename "$setup") under Wine; $(basename "$zip") holds the programs"
