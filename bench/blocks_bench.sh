#!/bin/bash
# What an update costs when only some files changed: bytes fetched and wall
# time of qarnauto's update by blocks, beside zsync (which needs a control
# file made by zsyncmake) and the whole package (what every start cost
# before: the package's size).
#   bench/blocks_bench.sh [size_mib] [files]      (default: 1024 300)
# A tree of FILES files (half random, half text, one of them 1 MiB) is packed
# by qarnauto-pack and served by nginx on 127.0.0.1, which logs the body
# bytes of every answer. Four starts: the first install, an unchanged start,
# the 1 MiB file changed, a tenth of the files changed; each install is
# compared with the tree. zsync makes the same new package from the
# previous one each time. Beside the first install, the hand-made pipeline
# curl + 7zz x + cp -a; beside the unchanged start, the same start without
# the manifest of the last install (every installed file read).
set -eu
cd "$(dirname "$0")/.."
. bench/lib.sh
size_mib=${1:-1024}
files=${2:-300}
scripts/install_deps.sh bench >/dev/null
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQARNAUTO_TESTS=ON >/dev/null
cmake --build build-release --target qarnauto qarnauto-pack >/dev/null
repo=$(pwd)

work=$(mktemp -d)
cleanup() {
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
chmod a+rx "$work"
mkdir -p "$work/www/qarn" "$work/tmp" "$work/tree/data" "$work/home/Desktop" "$work/run" "$work/updater" "$work/z"

per=$(( size_mib * 1048576 / files ))
# Text that compresses about as game data does, and random that does not.
write_file() {
  if [ $(( $2 % 2 )) -eq 0 ]; then
    head -c "$3" /dev/urandom > "$1"
  else
    yes "line $2 of a text table, with some words that repeat: $RANDOM" | head -c "$3" > "$1"
  fi
}
for i in $(seq 1 $((files - 1))); do
  mkdir -p "$work/tree/data/d$((i % 10))"
  write_file "$work/tree/data/d$((i % 10))/f$i.bin" "$i" "$per"
done
head -c 1048576 /dev/urandom > "$work/tree/data/patch.bin"
printf '#!/bin/sh\nexit 0\n' > "$work/tree/play.exe"
chmod +x "$work/tree/play.exe"

pack() {
  local t0 t1
  t0=$(date +%s.%N)
  build-release/update/qarnauto-pack "$work/tree" "$work/www/qarn/qarn.7z" >/dev/null
  t1=$(date +%s.%N)
  (cd "$work/www/qarn" && zsyncmake -u qarn.7z -o qarn.7z.zsync qarn.7z >/dev/null 2>&1)
  chmod -R a+rX "$work/www"
  echo "packed $(stat -c %s "$work/www/qarn/qarn.7z") bytes in $(echo "$t1 - $t0" | bc) s" >&2
}

port=$(( 20000 + $$ % 20000 ))
start_nginx 127.0.0.1 "$port" "access_log $work/access.log combined;"
url="http://127.0.0.1:$port/qarn"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/run QARNAUTO_DRIVE_SCOPE=$work
unset DISPLAY
cp build-release/app/qarnauto "$work/updater/"

# The body bytes nginx sent since the last call.
served() {
  local n
  n=$(awk '{ s += $10 } END { print s + 0 }' "$work/access.log")
  : > "$work/access.log"
  kill -USR1 "$(cat "$work/nginx.pid")"
  sleep 0.2
  echo "$n"
}

# qarnauto's start: "bytes seconds".
run_qarnauto() {
  served >/dev/null
  sync
  local t0 t1
  t0=$(date +%s.%N)
  "$work/updater/qarnauto" "$url\$EN\$Bench" </dev/null >"$work/qarnauto.out" 2>&1 || true
  t1=$(date +%s.%N)
  local install
  install=$(sed -n "s/^STARTUP=sz://p" "$XDG_CONFIG_HOME/qarnauto/registry" 2>/dev/null || true)
  [ -n "$install" ] || { tail -n 5 "$work/qarnauto.out" "$work/updater/qarnAutoLog.log" >&2; exit 1; }
  if ! diff -r "$work/tree" "$install" -x Download -x '*.txt' >/dev/null; then
    echo "qarnauto's install differs from the tree" >&2
    exit 1
  fi
  printf '%s %.2f\n' "$(served)" "$(echo "$t1 - $t0" | bc)"
}

# zsync's way from the previous package to this one: "bytes seconds".
run_zsync() {
  served >/dev/null
  local t0 t1
  t0=$(date +%s.%N)
  (cd "$work/z" && zsync -q -i old.7z -o new.7z "$url/qarn.7z.zsync" >/dev/null 2>&1)
  t1=$(date +%s.%N)
  cmp -s "$work/z/new.7z" "$work/www/qarn/qarn.7z" || { echo "zsync's file differs" >&2; exit 1; }
  mv "$work/z/new.7z" "$work/z/old.7z"
  rm -f "$work/z/new.7z.zs-old"
  printf '%s %.2f\n' "$(served)" "$(echo "$t1 - $t0" | bc)"
}

# curl + 7zz x + cp -a of the whole package into a fresh folder: "bytes seconds".
run_pipeline() {
  served >/dev/null
  rm -rf "$work/p"
  mkdir -p "$work/p/install"
  sync
  local t0 t1
  t0=$(date +%s.%N)
  curl -s -o "$work/p/qarn.7z" "$url/qarn.7z"
  7zz x -y -o"$work/p/x" "$work/p/qarn.7z" >/dev/null
  cp -a "$work/p/x/." "$work/p/install/"
  t1=$(date +%s.%N)
  diff -r "$work/tree" "$work/p/install" >/dev/null || { echo "the pipeline's install differs" >&2; exit 1; }
  rm -rf "$work/p"
  printf '%s %.2f\n' "$(served)" "$(echo "$t1 - $t0" | bc)"
}

declare -A bytes secs zbytes zsecs whole
pack
read -r bytes[pipe] secs[pipe] < <(run_pipeline)
read -r bytes[first] secs[first] < <(run_qarnauto)
cp "$work/www/qarn/qarn.7z" "$work/z/old.7z"
whole[first]=$(stat -c %s "$work/www/qarn/qarn.7z")
zbytes[first]=${whole[first]}
zsecs[first]=-
read -r bytes[same] secs[same] < <(run_qarnauto)
read -r zbytes[same] zsecs[same] < <(run_zsync)
whole[same]=${whole[first]}
install=$(sed -n "s/^STARTUP=sz://p" "$XDG_CONFIG_HOME/qarnauto/registry")
rm -f "$install/Download/installed-files"
read -r bytes[bare] secs[bare] < <(run_qarnauto)
zbytes[bare]=${zbytes[same]}
zsecs[bare]=${zsecs[same]}
whole[bare]=${whole[first]}

head -c 1048576 /dev/urandom > "$work/tree/data/patch.bin"
pack
read -r bytes[one] secs[one] < <(run_qarnauto)
read -r zbytes[one] zsecs[one] < <(run_zsync)
whole[one]=$(stat -c %s "$work/www/qarn/qarn.7z")

# A tenth of the files, new bytes throughout (random: new assets).
for i in $(seq 10 10 $((files - 1))); do
  head -c "$per" /dev/urandom > "$work/tree/data/d$((i % 10))/f$i.bin"
done
pack
read -r bytes[tenth] secs[tenth] < <(run_qarnauto)
read -r zbytes[tenth] zsecs[tenth] < <(run_zsync)
whole[tenth]=$(stat -c %s "$work/www/qarn/qarn.7z")

echo
echo "tree of $size_mib MiB in $files files; package of ${whole[tenth]} bytes"
echo "first install by curl + 7zz x + cp -a: ${bytes[pipe]} bytes in ${secs[pipe]} s (qarnauto $(echo "scale=2; ${secs[first]} / ${secs[pipe]}" | bc) of it)"
printf '| %-28s | %14s | %8s | %14s | %8s | %14s |\n' start "qarnauto bytes" "s" "zsync bytes" "s" "whole package"
printf '|%s|%s|%s|%s|%s|%s|\n' "----------------------------" "----------------" "----------" "----------------" "----------" "----------------"
for k in first same bare one tenth; do
  case $k in
    first) label="first install" ;;
    same) label="unchanged start" ;;
    bare) label="unchanged, no manifest" ;;
    one) label="one 1 MiB file changed" ;;
    tenth) label="a tenth of the files changed" ;;
  esac
  printf '| %-28s | %14s | %8s | %14s | %8s | %14s |\n' "$label" "${bytes[$k]}" "${secs[$k]}" "${zbytes[$k]}" \
    "${zsecs[$k]}" "${whole[$k]}"
done
