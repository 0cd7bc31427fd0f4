#!/bin/bash
# The whole update against the pipeline a user would script, and the
# extraction alone against the archivers:
#   bench/update_bench.sh [rounds] [size_mib]
# A tree of the given size (many files, half random, half text) is packed
# with 7zz and served by nginx on 127.0.0.1. qarnauto installs it in a private
# HOME (terminal mode, no prompts); curl + 7zz x + cp -a and curl + bsdtar -xf
# + cp -a do the same by hand. Every install is compared with the tree.
# Medians of wall time and peak memory, and their ratios.
set -eu
cd "$(dirname "$0")/.."
. bench/lib.sh
rounds=${1:-3}
size_mib=${2:-256}
scripts/install_deps.sh bench >/dev/null
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQARNAUTO_TESTS=ON >/dev/null
cmake --build build-release --target qarnauto extract_package >/dev/null
repo=$(pwd)

work=$(mktemp -d)
cleanup() {
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/tree" "$work/www/qarn" "$work/tmp"
# 128 files of equal size: the odd ones random, the even ones text.
files=128
per=$(( size_mib * 1048576 / files ))
for i in $(seq 0 $((files - 1))); do
  d="$work/tree/d$((i % 8))"
  mkdir -p "$d"
  if [ $((i % 2)) -eq 1 ]; then
    head -c "$per" /dev/urandom > "$d/f$i.bin"
  else
    yes "line $i of the client's text resources, with words that repeat" | head -c "$per" > "$d/f$i.txt"
  fi
done
printf '#!/bin/sh\nexit 0\n' > "$work/tree/play.exe"
chmod +x "$work/tree/play.exe"
(cd "$work/tree" && 7zz a -bso0 -bsp0 "$work/www/qarn/qarn.7z" .)
chmod -R a+rX "$work"
echo "package: $(du -m "$work/www/qarn/qarn.7z" | cut -f1) MB for a tree of $size_mib MiB in $((files + 1)) files"

port=$(( 20000 + $$ % 20000 ))
start_nginx 127.0.0.1 "$port" ""
url="http://127.0.0.1:$port/qarn"

# timed NAME CMD...: appends "wall rss_kib" of the command (children
# included) to $work/NAME.times.
timed() {
  local name=$1
  shift
  /usr/bin/time -f '%e %M' -o "$work/t" "$@" >/dev/null 2>&1
  cat "$work/t" >> "$work/$name.times"
}
check() {
  if ! diff -r "$work/tree" "$1" >/dev/null; then
    echo "  $2: the installed tree differs from the source" >&2
    exit 1
  fi
}

run() {
  rm -rf "$work/home" "$work/dest" "$work/x" && mkdir -p "$work/home/Desktop" "$work/dest" "$work/x"
  case $1 in
    qarnauto)
      mkdir -p "$work/home/run" "$work/updater"
      cp build-release/app/qarnauto "$work/updater/"
      HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share \
        XDG_RUNTIME_DIR=$work/home/run QARNAUTO_DRIVE_SCOPE=$work timed qarnauto "$work/updater/qarnauto" "$url\$EN\$Bench" </dev/null
      local install="$work/home/program files (x86)/Talvora/EN"
      rm -rf "$install/Download"
      check "$install" qarnauto
      ;;
    curl+7zz)
      timed curl+7zz sh -c "curl -s -o '$work/x/qarn.7z' '$url/qarn.7z' && mkdir '$work/x/t' && \
        7zz x -bso0 -bsp0 -o'$work/x/t' '$work/x/qarn.7z' && cp -a '$work/x/t/.' '$work/dest/'"
      check "$work/dest" curl+7zz
      ;;
    curl+bsdtar)
      timed curl+bsdtar sh -c "curl -s -o '$work/x/qarn.7z' '$url/qarn.7z' && mkdir '$work/x/t' && \
        bsdtar -xf '$work/x/qarn.7z' -C '$work/x/t' && cp -a '$work/x/t/.' '$work/dest/'"
      check "$work/dest" curl+bsdtar
      ;;
    extract)
      timed extract build-release/update/extract_package "$work/www/qarn/qarn.7z" "$work/x/"
      check "$work/x" extract
      ;;
    bsdtar)
      timed bsdtar bsdtar -xf "$work/www/qarn/qarn.7z" -C "$work/x"
      check "$work/x" bsdtar
      ;;
    7zz)
      timed 7zz 7zz x -bso0 -bsp0 -o"$work/x" "$work/www/qarn/qarn.7z"
      check "$work/x" 7zz
      ;;
  esac
}

table() {
  local title=$1 base=$2
  shift 2
  echo "== $title: $size_mib MiB, $rounds rounds, medians"
  printf '%-12s %9s %11s %12s\n' tool wall_s peak_mib "wall/$base"
  local bw
  bw=$(cut -d' ' -f1 "$work/$base.times" | median)
  for tool in "$@"; do
    local w m
    w=$(cut -d' ' -f1 "$work/$tool.times" | median)
    m=$(cut -d' ' -f2 "$work/$tool.times" | median)
    awk -v t="$tool" -v w="$w" -v m="$m" -v bw="$bw" \
      'BEGIN { printf "%-12s %9.2f %11.1f %12.2f\n", t, w, m / 1024, w / bw }'
  done
  echo
}

for r in $(seq "$rounds"); do
  for tool in qarnauto curl+bsdtar curl+7zz extract bsdtar 7zz; do run "$tool"; done
done
table "whole update (download, unpack, move into place)" curl+bsdtar qarnauto curl+bsdtar curl+7zz
table "extraction alone from a local file" bsdtar extract bsdtar 7zz
