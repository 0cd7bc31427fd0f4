#!/bin/sh
# Builds the Windows engine library with mingw-w64 into build-windows/:
# nndown.dll (the design's 32-bit module: NN_Down_n1, NN_Down_nn and NN_Stop
# by name and ordinals 1, 2, 3) and nndown_probe.exe, a Windows program that
# uses it, which the tests run under Wine. Installs the cross compiler when
# it is missing. With --tests it also builds the platform's and the engine's
# tests for Windows, which ctest in that folder runs under Wine
# (scripts/wine_run.sh, a Wine prefix of the tests' own).
#   scripts/build_windows.sh [--tests] [i686|x86_64]     (default i686)
set -eu
cd "$(dirname "$0")/.."
tests=OFF
if [ "${1:-}" = --tests ]; then
  tests=ON
  shift
fi
arch=${1:-i686}
case "$arch" in
  i686 | x86_64) ;;
  *) echo "usage: scripts/build_windows.sh [--tests] [i686|x86_64]" >&2; exit 2 ;;
esac
compiler=g++-mingw-w64-$(echo "$arch" | tr _ -)-posix
if ! dpkg-query -W -f='${Status}' "$compiler" 2>/dev/null | grep -q 'install ok installed'; then
  as_root=""
  [ "$(id -u)" -eq 0 ] || as_root="sudo"
  DEBIAN_FRONTEND=noninteractive $as_root apt-get -q -o DPkg::Lock::Timeout=900 install -y \
    --no-install-recommends "$compiler"
fi
folder=build-windows
[ "$arch" = i686 ] || folder=build-windows-$arch
cmake -S . -B "$folder" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DQARNAUTO_ENGINE_ONLY=ON -DQARNAUTO_WERROR=ON -DQARNAUTO_TESTS="$tests"
cmake --build "$folder" -j "${QARNAUTO_JOBS:-2}"
