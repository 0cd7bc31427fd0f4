#!/bin/sh
# Inspects a built qarnauto .deb without installing it: its files, its
# control fields, and a C program built against its header, library and
# pkg-config file.
#   scripts/check_package.sh PACKAGE.deb
set -eu
deb=$1
fail() { echo "check_package: $*" >&2; exit 1; }

contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
for f in ./usr/bin/qarnauto ./usr/share/man/man1/qarnauto.1 \
         ./usr/include/qarnauto/nn_down.h; do
  printf '%s\n' "$contents" | grep -qx "$f" || fail "missing $f"
done
printf '%s\n' "$contents" | grep -qE '^\./usr/lib/([^/]+/)?libnndown\.so$' || fail "missing libnndown.so"
printf '%s\n' "$contents" | grep -qE '^\./usr/lib/([^/]+/)?pkgconfig/nndown\.pc$' || fail "missing nndown.pc"
printf '%s\n' "$contents" | grep -qE 'test|gtest' && fail "test files in the package"

[ "$(dpkg-deb --field "$deb" Package)" = qarnauto ] || fail "Package field"
[ -n "$(dpkg-deb --field "$deb" Version)" ] || fail "no Version"
[ "$(dpkg-deb --field "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture"
depends=$(dpkg-deb --field "$deb" Depends)
for lib in libc6 libstdc++6 libarchive13 libtinyxml libsodium; do
  printf '%s\n' "$depends" | grep -q "$lib" || fail "Depends lacks $lib: $depends"
done
recommends=$(dpkg-deb --field "$deb" Recommends)
for pkg in wine wine32 fonts-wqy-microhei; do
  printf '%s\n' "$recommends" | grep -qw "$pkg" || fail "Recommends lacks $pkg: $recommends"
done

# A C program against the unpacked tree, through pkg-config.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
man -l "$root/usr/share/man/man1/qarnauto.1" >/dev/null 2>&1 || fail "the manual page does not format"
pc=$(dirname "$(find "$root/usr/lib" -name nndown.pc)")
# No prefix given: the file finds the unpacked tree from its own place.
flags=$(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs nndown)
here=$(cd "$(dirname "$0")/.." && pwd)
sed 's|"engine/nn_down.h"|<nn_down.h>|' "$here/tools/nn_progress.c" > "$root/consumer.c"
# shellcheck disable=SC2086
cc -std=c11 -Wall -Werror -o "$root/consumer" "$root/consumer.c" $flags || fail "the C program does not build"
lib=$(dirname "$(find "$root/usr/lib" -name libnndown.so)")
out=$(LD_LIBRARY_PATH=$lib "$root/consumer" 2>&1 || true)
printf '%s\n' "$out" | grep -q "usage: nn_progress" || fail "the C program does not run: $out"

# It downloads a file from nginx through NN_Down_n1, with progress.
mkdir -p "$root/www" "$root/tmp" "$root/out"
head -c 3000000 /dev/urandom > "$root/www/file.bin"
chmod -R a+rX "$root"
port=$(( 20000 + $$ % 20000 ))
cat > "$root/nginx.conf" <<CONF
daemon on;
pid $root/nginx.pid;
error_log $root/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $root/tmp; proxy_temp_path $root/tmp; fastcgi_temp_path $root/tmp;
  uwsgi_temp_path $root/tmp; scgi_temp_path $root/tmp;
  server { listen 127.0.0.1:$port; root $root/www; limit_rate 2m; }
}
CONF
/usr/sbin/nginx -e "$root/error.log" -p "$root" -c "$root/nginx.conf"
trap 'kill "$(cat "$root/nginx.pid")" 2>/dev/null; rm -rf "$root"' EXIT
sleep 0.3
LD_LIBRARY_PATH=$lib "$root/consumer" "$root/out" "http://127.0.0.1:$port/file.bin" > "$root/progress" 2>/dev/null ||
  fail "the C program's download failed: $(tail -1 "$root/progress")"
cmp -s "$root/out/file.bin" "$root/www/file.bin" || fail "the downloaded file differs"
grep -q '^progress ' "$root/progress" || fail "no progress reached the C program"
grep -q '^final 0 3000000 3000000$' "$root/progress" || fail "no final notification"
"$root/usr/bin/qarnauto" --version | grep -q "^qarnauto $(dpkg-deb --field "$deb" Version)" ||
  fail "qarnauto --version"
echo "package ok: $deb"
echo "Depends: $depends"
