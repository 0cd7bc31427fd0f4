#!/bin/bash
# The main job against a local update server, start to end:
#   scripts/demo.sh            the design's update
#   scripts/demo.sh --signed   with signed packages: a key pair is made, the
#                              updater is built with its public key and the
#                              package is signed ("qarn.7z.sig" and the signed
#                              block list "qarn.7z.blocks" beside it)
#   scripts/demo.sh --https    over HTTPS: nginx holds a certificate of a test
#                              CA made for the demo, which only the updater's
#                              environment trusts (SSL_CERT_FILE); the
#                              certificate and host name are checked
# Builds qarnauto, makes an update package "qarn.7z" with the publisher's
# packing program (qarnauto-pack), serves it from
# nginx on 127.0.0.1 and runs the updater with "URL$SUFFIX$NAME" in a
# private HOME (nothing outside a temporary folder is touched). The package's
# "play.exe" is a script that notes how the updater started it.
set -eu
cd "$(dirname "$0")/.."
repo=$(pwd)
signed=${1:-}
https=""
if [ "$signed" = --https ]; then
  https=1
  signed=""
fi
scripts/install_deps.sh demo

work=$(mktemp -d)
build=build-demo
key=""
if [ "$signed" = --signed ]; then
  cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQARNAUTO_TESTS=OFF >/dev/null
  cmake --build build-demo --target qarnauto-sign
  key=$(build-demo/update/qarnauto-sign keygen "$work/package.key")
  echo "== signing key made; public key $key"
  build=build-demo-signed
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQARNAUTO_TESTS=OFF \
  -DQARNAUTO_PACKAGE_KEY="$key" >/dev/null
cmake --build "$build" --target qarnauto qarnauto-pack

trap '[ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/package/data" "$work/www/qarn" "$work/tmp" "$work/home/Desktop" "$work/updater" "$work/run"
printf '#!/bin/sh\necho "started with $1 in $(pwd)" > "$(dirname "$0")/client-started.txt"\n' > "$work/package/play.exe"
chmod +x "$work/package/play.exe"
head -c 3000000 /dev/urandom > "$work/package/data/resources.bin"
echo "version 2" > "$work/package/data/version.txt"
if [ -n "$key" ]; then
  "$build/update/qarnauto-pack" "$work/package" "$work/www/qarn/qarn.7z" --sign "$work/package.key"
  echo "== packed and signed: $(ls "$work/www/qarn")"
else
  "$build/update/qarnauto-pack" "$work/package" "$work/www/qarn/qarn.7z"
fi
chmod -R a+rX "$work"

port=$(( 20000 + $$ % 20000 ))
scheme=http
host=127.0.0.1
if [ -n "$https" ]; then
  tools/make_test_certs.sh "$work/certs" > /dev/null
  chmod -R a+rX "$work/certs"
  scripts/start_nginx.sh "$work" "$work/www" "$port" 0 "$work/certs/good.pem" "$work/certs/good.key"
  # The demo's CA, for this run's updater alone: the machine's trust store
  # is left as it is.
  export SSL_CERT_FILE=$work/certs/ca.pem
  scheme=https
  host=localhost
  echo "== nginx speaks HTTPS with a certificate for localhost of the demo's own CA"
else
  scripts/start_nginx.sh "$work" "$work/www" "$port"
fi

cp "$build/app/qarnauto" "$work/updater/"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/run
# The updater installs on the drive with the most room; confined to the
# temporary folder, it sees only the private HOME there.
export QARNAUTO_DRIVE_SCOPE=$work
unset DISPLAY
echo "== qarnauto '$scheme://$host:$port/qarn\$EN\$Quillmarch Demo'"
"$work/updater/qarnauto" "$scheme://$host:$port/qarn\$EN\$Quillmarch Demo" </dev/null
echo "== exit code $?"
sleep 0.5
install=$(sed -n 's/^STARTUP=sz://p' "$XDG_CONFIG_HOME/qarnauto/registry")
echo "== install folder: $install"
(cd "$install" && find . -path ./Download -prune -o -type f -print | sort)
echo "== client: $(cat "$install/client-started.txt")"
echo "== registry ($XDG_CONFIG_HOME/qarnauto/registry):"
cat "$XDG_CONFIG_HOME/qarnauto/registry"
echo "== desktop launcher:"
cat "$HOME/Desktop/Quillmarch Demo.desktop"
echo "== run log:"
cat "$work/updater/qarnAutoLog.log"
echo "== a second start, nothing changed: only the package's header is fetched"
rm -f "$install/client-started.txt"
"$work/updater/qarnauto" "$scheme://$host:$port/qarn\$EN\$Quillmarch Demo" </dev/null
echo "== exit code $?"
grep "update by blocks" "$work/updater/qarnAutoLog.log" | tail -1
# The client starts detached: it is given a moment to write its note before
# the demo's folder goes.
for _ in $(seq 1 50); do
  [ -s "$install/client-started.txt" ] && break
  sleep 0.1
done
