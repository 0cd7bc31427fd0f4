#!/bin/bash
# Downloads one 256 MiB file from nginx with NN_Down_nn (through nn_fetch),
# with curl -o and with aria2c -x2 -s2, several rounds each, and prints the
# medians of wall time, CPU time and peak memory with their ratios.
#   bench/nn_bench.sh [rounds] [size_mib]
# Scenarios: plain loopback; each connection throttled by nginx (limit_rate
# 8m); the whole link capped with tc tbf on a veth pair into a network
# namespace of the benchmark's own (skipped where namespaces are not allowed).
set -eu
cd "$(dirname "$0")/.."
. bench/lib.sh
rounds=${1:-3}
size_mib=${2:-256}
scripts/install_deps.sh bench >/dev/null
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQARNAUTO_TESTS=ON -DQARNAUTO_WERROR=OFF >/dev/null
cmake --build build-release --target nn_fetch >/dev/null
fetch=$(pwd)/build-release/tools/nn_fetch

work=$(mktemp -d)
ns=qarnbench$$
cleanup() {
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  ip netns del "$ns" 2>/dev/null || true
  ip link del "vb$$h" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www" "$work/tmp" "$work/out"
head -c "$((size_mib * 1048576))" /dev/urandom > "$work/www/big.bin"
# nginx's workers run as an unprivileged user; the run log lands in $work.
chmod 755 "$work" "$work/www"
chmod 644 "$work/www/big.bin"
cd "$work"


# run TOOL URL: one download; appends "wall cpu rss_kib" to $work/TOOL.times
run() {
  rm -rf "$work/out" && mkdir -p "$work/out"
  case $1 in
    nn) cmd=("$fetch" nn "$work/out" "$2") ;;
    curl) cmd=(curl -s -o "$work/out/big.bin" "$2") ;;
    aria2c) cmd=(aria2c -q -x2 -s2 --allow-overwrite=true --file-allocation=none -d "$work/out" -o big.bin "$2") ;;
  esac
  measure "$1" "${cmd[@]}"
}


scenario() {
  local title=$1 url=$2
  rm -f "$work"/*.times
  for r in $(seq "$rounds"); do
    for tool in nn curl aria2c; do run "$tool" "$url"; done
  done
  echo "== $title: $size_mib MiB, $rounds rounds, medians"
  printf '%-8s %9s %9s %11s %10s %10s %12s %12s\n' tool wall_s cpu_s peak_mib wall/curl wall/aria cpu/curl cpu_s/GiB
  local cw cc aw
  cw=$(cut -d' ' -f1 "$work/curl.times" | median)
  cc=$(cut -d' ' -f2 "$work/curl.times" | median)
  aw=$(cut -d' ' -f1 "$work/aria2c.times" | median)
  for tool in nn curl aria2c; do
    local w c m
    w=$(cut -d' ' -f1 "$work/$tool.times" | median)
    c=$(cut -d' ' -f2 "$work/$tool.times" | median)
    m=$(cut -d' ' -f3 "$work/$tool.times" | median)
    awk -v t="$tool" -v w="$w" -v c="$c" -v m="$m" -v cw="$cw" -v cc="$cc" -v aw="$aw" -v s="$size_mib" \
      'BEGIN { printf "%-8s %9.2f %9.2f %11.1f %10.2f %10.2f %12.2f %12.2f\n", t, w, c, m / 1024, w / cw, w / aw, (cc > 0 ? c / cc : 0), c * 1024 / s }'
  done
  echo
}

port=$(( 20000 + $$ % 20000 ))
start_nginx 127.0.0.1 "$port" ""
scenario "loopback" "http://127.0.0.1:$port/big.bin"
stop_nginx

start_nginx 127.0.0.1 "$port" "limit_rate 8m;"
scenario "loopback, 8 MB/s per connection (nginx limit_rate)" "http://127.0.0.1:$port/big.bin"
stop_nginx

if ip netns add "$ns" 2>/dev/null &&
   ip link add "vb$$h" type veth peer name "vb$$n" &&
   ip link set "vb$$n" netns "$ns" &&
   ip addr add 10.231.7.1/24 dev "vb$$h" && ip link set "vb$$h" up &&
   ip netns exec "$ns" ip addr add 10.231.7.2/24 dev "vb$$n" &&
   ip netns exec "$ns" ip link set "vb$$n" up && ip netns exec "$ns" ip link set lo up &&
   ip netns exec "$ns" tc qdisc add dev "vb$$n" root tbf rate 400mbit burst 512kb latency 50ms; then
  start_nginx 10.231.7.2 80 "" "$ns"
  scenario "veth link capped at 400 Mbit/s (tc tbf; no netem here, so no delay or loss)" "http://10.231.7.2/big.bin"
  ip netns exec "$ns" kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  rm -f "$work/nginx.pid"
else
  echo "== veth link capped with tc tbf: skipped (network namespaces or tc are not allowed here)"
fi
