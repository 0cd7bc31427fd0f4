#!/bin/bash
# One file from three mirrors: two nginx servers and one FTP server
# (pyftpdlib) on 127.0.0.1, the FTP one throttled to a tenth of the others'
# speed. Compares NN_Down_n1 (through nn_fetch) with aria2c given the same
# three URIs (adaptive mirror selection) and with curl from a fast mirror;
# prints medians of wall time, CPU time and peak memory with ratios.
#   bench/n1_bench.sh [rounds] [size_mib] [fast_rate_mb]
set -eu
cd "$(dirname "$0")/.."
. bench/lib.sh
rounds=${1:-3}
size_mib=${2:-128}
fast=${3:-20}
slow_bytes=$(( fast * 1048576 / 10 ))
scripts/install_deps.sh bench >/dev/null
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQARNAUTO_TESTS=ON -DQARNAUTO_WERROR=OFF >/dev/null
cmake --build build-release --target nn_fetch >/dev/null
fetch=$(pwd)/build-release/tools/nn_fetch

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for f in "$work"/nginx*.pid; do [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www" "$work/tmp" "$work/out"
head -c "$((size_mib * 1048576))" /dev/urandom > "$work/www/big.bin"
chmod 755 "$work" "$work/www"
chmod 644 "$work/www/big.bin"
cd "$work"

base=$(( 20000 + $$ % 20000 ))
for i in 1 2; do
  cat > "$work/nginx$i.conf" <<CONF
daemon on;
worker_processes 1;
pid $work/nginx$i.pid;
error_log $work/error$i.log;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/tmp; proxy_temp_path $work/tmp; fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp; scgi_temp_path $work/tmp;
  server { listen 127.0.0.1:$((base + i)); root $work/www; limit_rate ${fast}m; }
}
CONF
  /usr/sbin/nginx -e "$work/error$i.log" -p "$work" -c "$work/nginx$i.conf"
done
cat > "$work/ftp.py" <<PY
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer
import logging
logging.basicConfig(level=logging.ERROR)
dtp = ThrottledDTPHandler
dtp.write_limit = $slow_bytes
auth = DummyAuthorizer()
auth.add_anonymous("$work/www")
handler = FTPHandler
handler.authorizer = auth
handler.dtp_handler = dtp
FTPServer(("127.0.0.1", $((base + 3))), handler).serve_forever()
PY
/usr/bin/python3 "$work/ftp.py" 2>/dev/null &
pids+=($!)
sleep 1

a="http://127.0.0.1:$((base + 1))/big.bin"
b="http://127.0.0.1:$((base + 2))/big.bin"
f="ftp://127.0.0.1:$((base + 3))/big.bin"

run() {
  rm -rf "$work/out" && mkdir -p "$work/out"
  case $1 in
    nn_n1) cmd=("$fetch" n1 "$work/out" "$a" "$b" "$f") ;;
    aria2c) cmd=(aria2c -q -s3 -x3 -k1M --uri-selector=adaptive --allow-overwrite=true --file-allocation=none -d "$work/out" -o big.bin "$a" "$b" "$f") ;;
    curl) cmd=(curl -s -o "$work/out/big.bin" "$a") ;;
  esac
  measure "$1" "${cmd[@]}"
}

for r in $(seq "$rounds"); do
  for tool in nn_n1 aria2c curl; do run "$tool"; done
done
echo "== $size_mib MiB from 2 nginx mirrors at ${fast} MB/s per connection and 1 FTP mirror at a tenth of that; $rounds rounds, medians"
printf '%-8s %9s %9s %11s %10s %10s\n' tool wall_s cpu_s peak_mib wall/aria wall/curl
aw=$(cut -d' ' -f1 "$work/aria2c.times" | median)
cw=$(cut -d' ' -f1 "$work/curl.times" | median)
for tool in nn_n1 aria2c curl; do
  w=$(cut -d' ' -f1 "$work/$tool.times" | median)
  c=$(cut -d' ' -f2 "$work/$tool.times" | median)
  m=$(cut -d' ' -f3 "$work/$tool.times" | median)
  awk -v t="$tool" -v w="$w" -v c="$c" -v m="$m" -v aw="$aw" -v cw="$cw" \
    'BEGIN { printf "%-8s %9.2f %9.2f %11.1f %10.2f %10.2f\n", t, w, c, m / 1024, w / aw, w / cw }'
done
