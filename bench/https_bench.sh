#!/bin/bash
# The cost of HTTPS: one file from nginx on 127.0.0.1 over TLS (a test CA's
# certificate, trusted through SSL_CERT_FILE and curl's --cacert alone),
# fetched by the list download (NN_Down_nn through nn_fetch: two
# connections, every certificate check on) and by curl; the same download
# over plain HTTP for the memory beside it. Prints medians of wall time, CPU
# time per GiB and peak memory, with the CPU ratio to curl's.
#   bench/https_bench.sh [rounds] [size_mib]
set -eu
cd "$(dirname "$0")/.."
. bench/lib.sh
rounds=${1:-3}
size_mib=${2:-1024}
scripts/install_deps.sh bench >/dev/null
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQARNAUTO_TESTS=ON -DQARNAUTO_WERROR=OFF >/dev/null
cmake --build build-release --target nn_fetch >/dev/null
fetch=$(pwd)/build-release/tools/nn_fetch
certs_script=$(pwd)/tools/make_test_certs.sh

work=$(mktemp -d)
pids=""
trap 'for p in $pids; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
mkdir -p "$work/www" "$work/tmp" "$work/out"
head -c "$((size_mib * 1048576))" /dev/urandom > "$work/www/big.bin"
"$certs_script" "$work/certs" >/dev/null
chmod -R a+rX "$work"
cd "$work"
export SSL_CERT_FILE=$work/certs/ca.pem

port=$(( 20000 + $$ % 20000 ))
# Two servers from the one configuration file of lib.sh, one after the
# other; each is stopped by its process id.
start_nginx 127.0.0.1 "$((port + 1))" ""
pids="$(cat "$work/nginx.pid")"
rm -f "$work/nginx.pid"
start_nginx 127.0.0.1 "$port ssl" "ssl_certificate $work/certs/good.pem; ssl_certificate_key $work/certs/good.key;"
pids="$pids $(cat "$work/nginx.pid")"
https_url="https://localhost:$port/big.bin"
http_url="http://127.0.0.1:$((port + 1))/big.bin"

run() {
  rm -rf "$work/out" && mkdir -p "$work/out"
  case $1 in
    nn_https) cmd=("$fetch" nn "$work/out" "$https_url") ;;
    nn_http) cmd=("$fetch" nn "$work/out" "$http_url") ;;
    curl_https) cmd=(curl -s --cacert "$work/certs/ca.pem" -o "$work/out/big.bin" "$https_url") ;;
  esac
  measure "$1" "${cmd[@]}"
}

for r in $(seq "$rounds"); do
  for tool in nn_https curl_https nn_http; do run "$tool"; done
done
echo "== $size_mib MiB from nginx on 127.0.0.1; $rounds rounds, medians (the client's CPU only)"
printf '%-11s %9s %12s %11s %14s\n' tool wall_s cpu_s_per_gib peak_mib cpu/curl_https
cc=$(cut -d' ' -f2 "$work/curl_https.times" | median)
for tool in nn_https curl_https nn_http; do
  w=$(cut -d' ' -f1 "$work/$tool.times" | median)
  c=$(cut -d' ' -f2 "$work/$tool.times" | median)
  m=$(cut -d' ' -f3 "$work/$tool.times" | median)
  awk -v t="$tool" -v w="$w" -v c="$c" -v m="$m" -v cc="$cc" -v s="$size_mib" \
    'BEGIN { printf "%-11s %9.2f %12.2f %11.1f %14.2f\n", t, w, c * 1024 / s, m / 1024, c / cc }'
done
