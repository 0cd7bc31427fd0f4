#!/bin/sh
# Installs the Debian packages that one job of the project needs, and only
# those; packages already installed are left alone. Starts from a minimal
# Debian 12 system with build-essential, cmake, ninja-build, git and
# ca-certificates (scripts/fresh_system.sh makes one).
#   scripts/install_deps.sh PURPOSE...          install what they need
#   scripts/install_deps.sh --list PURPOSE...   print it, install nothing
# The purposes:
#   build        the Linux build of the updater and its programs
#   demo         the build and nginx (scripts/demo.sh)
#   package      the build and the Debian packaging tools (scripts/package.sh)
#   windows      mingw-w64 and Wine, for the Windows build and its tests
#   screenshots  the build with its test programs, Xvfb, the window
#                managers and compositors (scripts/screenshot.sh)
#   test         everything the test command runs (scripts/test.sh) but
#                the 32-bit Wine, which it asks for apart
#   wine32       the 32-bit Wine (wine32:i386), for the design's 32-bit
#                Windows build
#   bench        what the benchmarks compare with (bench/)
#   fuzz         clang, for the fuzz targets (scripts/fuzz.sh)
# The i386 architecture and its 32-bit Wine come only with windows and
# wine32, and only on a machine that runs 32-bit programs (scripts/runs_32bit.sh)
# unless QARNAUTO_WINE_ARCH=x86_64 asks for the 64-bit Windows build alone.
#
# A package index that fails to update (a mirror briefly out of step) does
# not stop the install: the indexes already on the machine serve. Only a
# failed install fails, with one line naming the package that cannot be
# installed and why.
set -eu
cd "$(dirname "$0")/.."

list=""
if [ "${1:-}" = --list ]; then
  list=1
  shift
fi
if [ $# -eq 0 ]; then
  echo "usage: scripts/install_deps.sh [--list] build|demo|package|windows|wine32|screenshots|test|bench|fuzz..." >&2
  exit 2
fi

build="cmake ninja-build g++ binutils pkg-config
  libtinyxml-dev libarchive-dev liblzma-dev libsodium-dev libssl-dev
  libx11-dev libxext-dev libxtst-dev libxrandr-dev libcairo2-dev libpango1.0-dev libpng-dev"
display="xvfb xcompmgr x11-xserver-utils fonts-dejavu-core fonts-wqy-microhei
  openbox xfwm4 xfconf dbus fluxbox icewm i3-wm"
windows="wine wine64 gcc-mingw-w64-x86-64 gcc-mingw-w64-i686 g++-mingw-w64-i686-posix"

packages=""
wants_i386=""
for purpose in "$@"; do
  case "$purpose" in
    build) packages="$packages $build" ;;
    demo) packages="$packages $build nginx openssl" ;;
    package) packages="$packages $build dpkg-dev file man-db" ;;
    windows) packages="$packages $windows"; wants_i386=1 ;;
    screenshots) packages="$packages $build libgtest-dev libgmock-dev nginx 7zip $display" ;;
    test)
      packages="$packages $build dpkg-dev file man-db libgtest-dev libgmock-dev clang lldb
        nginx openssl python3 python3-pyftpdlib 7zip desktop-file-utils $display $windows"
      ;;
    wine32) wants_i386=1 ;;
    bench) packages="$packages $build nginx openssl 7zip curl aria2 time iproute2 libarchive-tools python3 python3-pyftpdlib zsync bc" ;;
    fuzz) packages="$packages $build clang" ;;
    *) echo "install_deps: no purpose \"$purpose\" (see the script's first lines)" >&2; exit 2 ;;
  esac
done

# A 32-bit game client needs the Wine that runs 32-bit programs, which is of
# the i386 architecture; a kernel that runs no 32-bit program has no use
# for it (the tests then run the 64-bit Windows build).
if [ -n "$wants_i386" ] && [ "$(dpkg --print-architecture)" = amd64 ] &&
  [ "${QARNAUTO_WINE_ARCH:-}" != x86_64 ] && scripts/runs_32bit.sh > /dev/null 2>&1; then
  packages="$packages wine32:i386"
fi
packages=$(echo "$packages" | tr ' ' '\n' | sed '/^$/d' | sort -u)

if [ -n "$list" ]; then
  echo "$packages"
  exit 0
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
case "$missing" in
  *:i386*)
    dpkg --print-foreign-architectures | grep -qx i386 || $as_root dpkg --add-architecture i386
    ;;
esac

log=$(mktemp)
trap 'rm -f "$log" "$log.install"' EXIT
# apt-get update fails when any one index fails, yet it keeps every index
# it did fetch: the install below is what tells whether that was enough.
tries=0
until $apt update > "$log" 2>&1; do
  tries=$((tries + 1))
  if [ "$tries" -ge 2 ]; then
    echo "install_deps: some package indexes could not be updated; going on with the ones at hand:" >&2
    grep -E '^(E|W|Err):' "$log" | sed 's/^/  /' >&2 || true
    break
  fi
  sleep 10
done
index_failed=""
grep -qE '^(E|Err):' "$log" && index_failed=1

# shellcheck disable=SC2086
if $apt install -y --no-install-recommends $missing > "$log.install" 2>&1; then
  cat "$log.install"
  exit 0
fi
cat "$log.install" >&2

# One line for the person: the first package that cannot be installed on
# its own, and why; else apt's own last error.
for p in $missing; do
  apt-get -q -s install --no-install-recommends "$p" > "$log" 2>&1 && continue
  unmet=$(sed -n 's/^ *[^ ]* *: *\(Pre\)\{0,1\}Depends: //p' "$log" | head -n 1)
  if grep -qE 'Unable to locate package|has no installation candidate' "$log"; then
    why="no package index offers it"
  elif [ -n "$unmet" ]; then
    why="it depends on $unmet"
  else
    why=$(grep '^E:' "$log" | tail -n 1 | sed 's/^E: //')
  fi
  if [ -n "$index_failed" ]; then
    case "$p" in
      *:i386) why="the registry's i386 index is out of step with amd64 ($why); try again later" ;;
      *) why="$why (a package index failed to update; try again later)" ;;
    esac
  fi
  echo "install_deps: $p is not installable now: $why" >&2
  exit 1
done
echo "install_deps: the install failed: $(grep '^E:' "$log.install" | tail -n 1 | sed 's/^E: //')" >&2
exit 1
