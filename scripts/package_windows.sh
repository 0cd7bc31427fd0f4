#!/bin/sh
# The Windows packages a publisher ships, from the Windows build (made
# first when it is missing): a zip of qarnauto.exe, nndown.dll and a short
# readme, and an installer made with NSIS (packaging/windows/qarnauto.nsi).
# Prints the two paths.
#   scripts/package_windows.sh [BUILD_FOLDER]     (default build-windows)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-windows}
[ -f "$build/qarnauto.exe" ] || scripts/build_windows.sh > /dev/null
# The tools it needs (scripts/windows_deps.sh installs them with the
# cross compiler).
for tool in makensis zip; do
  command -v "$tool" > /dev/null || { echo "$tool is missing: run scripts/windows_deps.sh" >&2; exit 1; }
done
version=$(sed -n 's/^project(qarnauto VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
out=$(realpath "$build")/package
rm -rf "$out"
mkdir -p "$out/qarnauto-$version-windows"
stage=$out/qarnauto-$version-windows
cp "$build/qarnauto.exe" "$build/nndown.dll" "$stage/"
# A Windows readme: Windows line ends.
sed "s/@VERSION@/$version/; s/\$/\r/" packaging/windows/readme.txt > "$stage/readme.txt"
(cd "$out" && zip -q -X -r "qarnauto-$version-windows.zip" "qarnauto-$version-windows")
makensis -V2 -DVERSION="$version" -DBUILD="$stage" -DREADME="$stage/readme.txt" \
  -DOUTFILE="$out/qarnauto-$version-setup.exe" packaging/windows/qarnauto.nsi > "$out/makensis.log" ||
  { cat "$out/makensis.log" >&2; exit 1; }
echo "$out/qarnauto-$version-windows.zip"
echo "$out/qarnauto-$version-setup.exe"
