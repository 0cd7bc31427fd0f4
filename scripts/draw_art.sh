#!/bin/sh
# Redraws the window's pictures from tools/draw_art.cpp.
#   scripts/draw_art.sh            into res/ (then commit them)
#   scripts/draw_art.sh FOLDER     into another folder, to compare
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install_deps.sh" build
build="$root/build-art"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQARNAUTO_TESTS=OFF >/dev/null
cmake --build "$build" --target draw_art >/dev/null
out="${1:-$root/res}"
mkdir -p "$out"
"$build/tools/draw_art" "$out"
echo "pictures written to $out"
