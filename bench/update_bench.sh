#!/bin/bash
# The whole update against the pipelines a user would script, and the
# extraction alone against the archivers:
#   bench/update_bench.sh [rounds] [size_mib...]      (default: 3 256 1024)
# For each size, a tree (many files, half random, half text) is packed twice:
# by 7zz with its defaults (one solid block) and by qarnauto-pack (several),
# and served by nginx on 127.0.0.1. qarnauto installs each in a private HOME
# (terminal mode, no prompts); curl + bsdtar -xf + cp -a and curl + 7zz x +
# cp -a do the same by hand. Every install is compared with the tree.
# Medians of wall time and peak memory, and their ratios.
set -eu
cd "$(dirname "$0")/.."
. bench/lib.sh
rounds=${1:-3}
[ $# -gt 0 ] && shift
sizes=${*:-"256 1024"}
scripts/install_deps.sh bench >/dev/null
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQARNAUTO_TESTS=ON >/dev/null
cmake --build build-release --target qarnauto extract_package qarnauto-pack >/dev/null
repo=$(pwd)

work=$(mktemp -d)
cleanup() {
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www/qarn" "$work/tmp"

# make_tree SIZE_MIB: 128 files of equal size, the odd ones random, the even
# ones text, and the client's program; packed by 7zz (www/7zz/qarn) and by
# qarnauto-pack (www/pack/qarn).
make_tree() {
  local size_mib=$1 files=128
  local per=$(( size_mib * 1048576 / files ))
  rm -rf "$work/tree" "$work/www/7zz" "$work/www/pack"
  mkdir -p "$work/tree" "$work/www/7zz/qarn" "$work/www/pack/qarn"
  for i in $(seq 0 $((files - 1))); do
    local d="$work/tree/d$((i % 8))"
    mkdir -p "$d"
    if [ $((i % 2)) -eq 1 ]; then
      head -c "$per" /dev/urandom > "$d/f$i.bin"
    else
      yes "line $i of the client's text resources, with words that repeat" | head -c "$per" > "$d/f$i.txt"
    fi
  done
  printf '#!/bin/sh\nexit 0\n' > "$work/tree/play.exe"
  chmod +x "$work/tree/play.exe"
  local t0 t1 t2
  t0=$(date +%s.%N)
  (cd "$work/tree" && 7zz a -bso0 -bsp0 "$work/www/7zz/qarn/qarn.7z" .)
  t1=$(date +%s.%N)
  build-release/update/qarnauto-pack "$work/tree" "$work/www/pack/qarn/qarn.7z"
  t2=$(date +%s.%N)
  chmod -R a+rX "$work"
  awk -v s="$size_mib" -v a="$(stat -c %s "$work/www/7zz/qarn/qarn.7z")" \
      -v b="$(stat -c %s "$work/www/pack/qarn/qarn.7z")" -v t0="$t0" -v t1="$t1" \
      -v t2="$t2" 'BEGIN {
    ta = t1 - t0; tb = t2 - t1
    printf "tree of %d MiB in 129 files: 7zz package %d bytes (%.1f s to make), ", s, a, ta
    printf "qarnauto-pack package %d bytes (%.1f s), %.4f of 7zz'"'"'s size\n\n", b, tb, b / a }'
}

port=$(( 20000 + $$ % 20000 ))
start_nginx 127.0.0.1 "$port" ""

# timed NAME CMD...: appends "wall rss_kib" of the command (children
# included) to $work/NAME.times.
timed() {
  local name=$1
  shift
  # No tool waits for the writing back of another's files.
  sync
  /usr/bin/time -f '%e %M' -o "$work/t" "$@" >/dev/null 2>&1
  cat "$work/t" >> "$work/$name.times"
}
check() {
  if ! diff -r "$work/tree" "$1" >/dev/null; then
    echo "  $2: the installed tree differs from the source" >&2
    exit 1
  fi
}

# run TOOL: one round of the tool on the package kind $kind.
run() {
  local url="http://127.0.0.1:$port/$kind/qarn" package="$work/www/$kind/qarn/qarn.7z"
  rm -rf "$work/home" "$work/dest" "$work/x" && mkdir -p "$work/home/Desktop" "$work/dest" "$work/x"
  case $1 in
    qarnauto)
      mkdir -p "$work/home/run" "$work/updater"
      cp build-release/app/qarnauto "$work/updater/"
      HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share \
        XDG_RUNTIME_DIR=$work/home/run QARNAUTO_DRIVE_SCOPE=$work timed "qarnauto" "$work/updater/qarnauto" "$url\$EN\$Bench" </dev/null
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
      timed extract build-release/update/extract_package "$package" "$work/x/"
      check "$work/x" extract
      ;;
    bsdtar)
      timed bsdtar bsdtar -xf "$package" -C "$work/x"
      check "$work/x" bsdtar
      ;;
    7zz)
      timed 7zz 7zz x -bso0 -bsp0 -o"$work/x" "$package"
      check "$work/x" 7zz
      ;;
  esac
}

# table TITLE BASE1 BASE2 TOOL...: medians of each tool, against two bases.
table() {
  local title=$1 b1=$2 b2=$3
  shift 3
  echo "== $title: $size_mib MiB, $rounds rounds, medians"
  printf '%-12s %9s %13s %11s %14s %14s\n' tool wall_s wall_range peak_mib "wall/$b1" "wall/$b2"
  local w1 w2
  w1=$(cut -d' ' -f1 "$work/$b1.times" | median)
  w2=$(cut -d' ' -f1 "$work/$b2.times" | median)
  for tool in "$@"; do
    local w m lo hi
    w=$(cut -d' ' -f1 "$work/$tool.times" | median)
    m=$(cut -d' ' -f2 "$work/$tool.times" | median)
    lo=$(cut -d' ' -f1 "$work/$tool.times" | sort -n | head -1)
    hi=$(cut -d' ' -f1 "$work/$tool.times" | sort -n | tail -1)
    awk -v t="$tool" -v w="$w" -v m="$m" -v w1="$w1" -v w2="$w2" -v r="$lo-$hi" \
      'BEGIN { printf "%-12s %9.2f %13s %11.1f %14.2f %14.2f\n", t, w, r, m / 1024, w / w1, w / w2 }'
  done
  echo
}

for size_mib in $sizes; do
  make_tree "$size_mib"
  for kind in 7zz pack; do
    rm -f "$work"/*.times
    for r in $(seq "$rounds"); do
      for tool in qarnauto curl+bsdtar curl+7zz extract bsdtar 7zz; do run "$tool"; done
    done
    blocks=$(7zz l -slt "$work/www/$kind/qarn/qarn.7z" | sed -n 's/^Blocks = //p')
    label="package by $([ "$kind" = pack ] && echo qarnauto-pack || echo 7zz), $blocks solid block(s)"
    table "whole update (download, unpack, move into place), $label" curl+bsdtar curl+7zz \
      qarnauto curl+bsdtar curl+7zz
    table "extraction alone from a local file, $label" bsdtar 7zz extract bsdtar 7zz
  done
done
