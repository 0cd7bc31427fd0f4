#!/bin/sh
# Installs the Debian packages that building, testing and running qarnauto
# need; packages already installed are left alone. Starts from a minimal
# Debian 12 system with build-essential, cmake, ninja-build, git and
# ca-certificates (scripts/fresh_system.sh makes one).
#   scripts/install_deps.sh          build, test, demo, screenshots, package
#   scripts/install_deps.sh bench    also what the benchmarks compare with
set -eu

packages="
  cmake ninja-build g++ clang binutils pkg-config
  libgtest-dev libgmock-dev
  nginx python3 python3-pyftpdlib
  libtinyxml-dev libarchive-dev liblzma-dev libsodium-dev 7zip lldb
  desktop-file-utils dpkg-dev file man-db
  wine wine64 gcc-mingw-w64-x86-64 gcc-mingw-w64-i686 g++-mingw-w64-i686-posix
  libx11-dev libxext-dev libxtst-dev libxrandr-dev libcairo2-dev libpango1.0-dev libpng-dev
  xvfb xcompmgr x11-xserver-utils fonts-dejavu-core fonts-wqy-microhei
  openbox xfwm4 xfconf dbus fluxbox icewm i3-wm
"
if [ "${1:-}" = bench ]; then
  packages="$packages curl aria2 time iproute2 libarchive-tools"
fi
# A 32-bit game client needs the Wine that runs 32-bit programs, which is
# of the i386 architecture.
i386=""
if [ "$(dpkg --print-architecture)" = amd64 ]; then
  packages="$packages wine32:i386"
  dpkg --print-foreign-architectures | grep -qx i386 || i386=add
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
# Another installation (an unattended upgrade, a second terminal) may hold
# the package manager's locks: wait for it rather than fail.
apt="$as_root apt-get -q -o DPkg::Lock::Timeout=900"
if [ "$i386" = add ]; then
  $as_root dpkg --add-architecture i386
fi
tries=0
until $apt update; do
  tries=$((tries + 1))
  [ "$tries" -lt 5 ] || exit 1
  echo "apt-get update failed; trying again in 30 s" >&2
  sleep 30
done
# shellcheck disable=SC2086
$apt install -y --no-install-recommends $missing
