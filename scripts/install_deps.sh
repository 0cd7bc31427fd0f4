#!/bin/sh
# Installs the Debian packages that building, testing and running qarnauto
# need; packages already installed are left alone.
#   scripts/install_deps.sh          build and test
#   scripts/install_deps.sh bench    also what the benchmarks compare with
set -eu

packages="
  cmake ninja-build g++ clang binutils pkg-config
  libgtest-dev libgmock-dev
  nginx python3 python3-pyftpdlib
  libtinyxml-dev libarchive-dev 7zip lldb
  desktop-file-utils dpkg-dev file man-db
  wine wine64 gcc-mingw-w64-x86-64
  libx11-dev libxext-dev libxtst-dev libcairo2-dev libpango1.0-dev libpng-dev
  xvfb xcompmgr fonts-dejavu-core fonts-wqy-microhei
"
if [ "${1:-}" = bench ]; then
  packages="$packages curl aria2 time iproute2 libarchive-tools"
fi

missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

echo "installing:$missing"
as_root=""
[ "$(id -u)" -eq 0 ] || as_root="sudo"
export DEBIAN_FRONTEND=noninteractive
$as_root apt-get update -q
# shellcheck disable=SC2086
$as_root apt-get install -y -q --no-install-recommends $missing
