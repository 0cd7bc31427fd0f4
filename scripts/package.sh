#!/bin/sh
# Builds the Debian package of qarnauto (the updater, its manual page, and
# libnndown.so with nn_down.h and nndown.pc) and prints the path of the .deb.
#   scripts/package.sh [build-folder]      default: build-package
# Install it with `apt install ./qarnauto_VERSION_ARCH.deb`, remove it with
# `apt remove qarnauto`.
set -eu
cd "$(dirname "$0")/.."
scripts/install_deps.sh package >&2
dir=${1:-build-package}
if [ -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr >&2
else
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DQARNAUTO_TESTS=OFF >&2
fi
cmake --build "$dir" -j "${QARNAUTO_JOBS:-2}" >&2
rm -f "$dir"/qarnauto_*.deb
(cd "$dir" && cpack -G DEB >&2)
ls "$dir"/qarnauto_*.deb
