#!/bin/sh
# Signs an update package for updaters built with a package key:
#   scripts/sign_package.sh KEYFILE PACKAGE     writes PACKAGE.sig and the
#                                               signed block list PACKAGE.blocks
#   scripts/sign_package.sh --new-key KEYFILE   makes a key pair; prints the
#                                               public key for the build:
#     cmake -DQARNAUTO_PACKAGE_KEY=<printed key> ...
# Put PACKAGE.sig and PACKAGE.blocks beside PACKAGE on the update server. Keep KEYFILE secret.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
tool=$here/build-sign/update/qarnauto-sign
if [ ! -x "$tool" ]; then
  cmake -S "$here" -B "$here/build-sign" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQARNAUTO_TESTS=OFF >/dev/null
  cmake --build "$here/build-sign" --target qarnauto-sign >/dev/null
fi
if [ "${1:-}" = --new-key ]; then
  exec "$tool" keygen "$2"
fi
[ $# -eq 2 ] || { echo "usage: $0 KEYFILE PACKAGE | --new-key KEYFILE" >&2; exit 2; }
exec "$tool" sign "$1" "$2"
