# Shared by the benchmark scripts (sourced, not run).

# measure NAME CMD...: runs one download into $work/out, checks the file
# against $work/www/big.bin and appends "wall cpu rss_kib" to $work/NAME.times.
measure() {
  local name=$1
  shift
  /usr/bin/time -f '%e %U %S %M' -o "$work/t" "$@" >/dev/null
  if ! cmp "$work/out/big.bin" "$work/www/big.bin"; then
    echo "  $name: downloaded file differs" >&2
    exit 1
  fi
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/t" >> "$work/$name.times"
}

# The median of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# nginx serving $work/www, its files in $work (nginx.conf, nginx.pid).
# start_nginx ADDRESS PORT EXTRA [netns]
start_nginx() {
  cat > "$work/nginx.conf" <<CONF
daemon on;
worker_processes 2;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/tmp; proxy_temp_path $work/tmp; fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp; scgi_temp_path $work/tmp;
  server { listen $1:$2; root $work/www; $3 }
}
CONF
  if [ -n "${4:-}" ]; then
    ip netns exec "$4" /usr/sbin/nginx -e "$work/error.log" -p "$work" -c "$work/nginx.conf"
  else
    /usr/sbin/nginx -e "$work/error.log" -p "$work" -c "$work/nginx.conf"
  fi
  sleep 0.5
}
stop_nginx() {
  kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  sleep 0.5
  rm -f "$work/nginx.pid"
}
