#!/bin/sh
# Builds the Windows programs with mingw-w64 into build-windows/:
# qarnauto.exe (the design's 32-bit updater, which exports NN_Down_n1,
# NN_Down_nn and NN_Stop by name and ordinals 1, 2, 3), nndown.dll (the same
# entry points for other programs), the publisher's qarnauto-pack.exe and
# qarnauto-sign.exe, and nndown_probe.exe, a Windows program that uses the
# library. Installs the cross compiler and
# builds the static libraries first when they are missing
# (scripts/windows_deps.sh). With --tests it also builds the tests for
# Windows, which ctest in that folder runs under Wine (scripts/wine_run.sh,
# a Wine prefix of the tests' own).
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
prefix=$(scripts/windows_deps.sh "$arch" | tail -n 1)
folder=build-windows
[ "$arch" = i686 ] || folder=build-windows-$arch
cmake -S . -B "$folder" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" \
  -DQARNAUTO_WINDOWS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DQARNAUTO_WERROR=ON -DQARNAUTO_TESTS="$tests"
# The tests are listed by running them under Wine as they are built: the
# prefix is made first, not inside a listing's time limit.
[ "$tests" = OFF ] || scripts/wine_run.sh --prepare
cmake --build "$folder" -j "${QARNAUTO_JOBS:-2}"
