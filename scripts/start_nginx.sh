#!/bin/sh
# Starts nginx as a daemon that serves ROOT on 127.0.0.1:PORT, with its
# configuration, logs and temporary files in WORK (its process id in
# WORK/nginx.pid; kill that to stop it). With RATE (nginx's size, "200k"),
# each response is sent at that many bytes a second, as a slow line would.
# With CERT and KEY (PEM files) it speaks HTTPS on that port instead. Every
# answer's body bytes are logged to WORK/access.log (the combined format).
#   scripts/start_nginx.sh WORK ROOT PORT [RATE [CERT KEY]]
set -eu
work=$1
root=$2
port=$3
rate=${4:-0}
tls=""
[ $# -ge 6 ] && tls="ssl; ssl_certificate $5; ssl_certificate_key $6"
mkdir -p "$work/tmp"
cat > "$work/nginx.conf" <<CONF
daemon on;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
  access_log $work/access.log;
  client_body_temp_path $work/tmp; proxy_temp_path $work/tmp; fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp; scgi_temp_path $work/tmp;
  server { listen 127.0.0.1:$port $tls; root $root; limit_rate $rate; }
}
CONF
exec /usr/sbin/nginx -e "$work/error.log" -p "$work" -c "$work/nginx.conf"
