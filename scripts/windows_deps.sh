#!/bin/sh
# Cross-builds, as static libraries for Windows, the libraries qarnauto links
# that Debian does not package for mingw-w64: liblzma (xz-utils), libarchive,
# libsodium and TinyXML, each from Debian's own source package, into a cache
# folder. zlib comes from Debian's libz-mingw-w64-dev. A library is built
# again only when its source version (or this script) changes.
#   scripts/windows_deps.sh [i686|x86_64]      (default i686, the design's)
# The prefix is printed last: $QARNAUTO_WINDOWS_DEPS (default
# /var/tmp/qarnauto-windows-deps)/<arch>-w64-mingw32.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
arch=${1:-i686}
case "$arch" in
  i686 | x86_64) ;;
  *) echo "usage: scripts/windows_deps.sh [i686|x86_64]" >&2; exit 2 ;;
esac
host=$arch-w64-mingw32
cache=${QARNAUTO_WINDOWS_DEPS:-/var/tmp/qarnauto-windows-deps}
prefix=$cache/$host
jobs=$(nproc 2>/dev/null || echo 2)

# The toolchain, what the source builds need and the Windows packages' tools.
packages="g++-mingw-w64-$(echo "$arch" | tr _ -)-posix gcc-mingw-w64-$(echo "$arch" | tr _ -)-posix
  libz-mingw-w64-dev cmake make autoconf automake libtool pkg-config dpkg-dev xz-utils
  nsis zip unzip"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
if [ -n "$missing" ]; then
  as_root=""
  [ "$(id -u)" -eq 0 ] || as_root="sudo"
  echo "installing:$missing"
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $as_root apt-get -q -o DPkg::Lock::Timeout=900 install -y \
    --no-install-recommends $missing
fi

# Source packages through a private list, so the system's own sources stay
# as they are (a minimal system has no deb-src lines).
apt_dir=$cache/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$cache/src"
mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
[ -n "$mirror" ] || mirror=$(sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\(http[^ ]*\) .*/\2/p' /etc/apt/sources.list 2>/dev/null | head -n 1)
[ -n "$mirror" ] || mirror=http://deb.debian.org/debian
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
echo "deb-src $mirror $suite main" > "$apt_dir/sources.list"
apt_src() {
  apt-get -q -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null \
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache::Archives="$apt_dir/archives" \
    -o APT::Sandbox::User=root "$@"
}
tries=0
until apt_src update > "$apt_dir/update.log" 2>&1; do
  tries=$((tries + 1))
  if [ "$tries" -ge 5 ]; then cat "$apt_dir/update.log" >&2; exit 1; fi
  echo "apt-get update failed; trying again in 30 s" >&2
  sleep 30
done
version_of() {
  apt-cache -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null \
    -o Dir::State::Lists="$apt_dir/lists" showsrc "$1" | sed -n 's/^Version: //p' | sort -V | tail -n 1
}

# Each library's stamp: its source version (delete the cache folder to
# build again after changing how a library is built).
stamp_of() { echo "$host $1=$(version_of "$1")"; }
current() { [ -f "$prefix/stamp-$1" ] && [ "$(cat "$prefix/stamp-$1")" = "$(stamp_of "$1")" ]; }
done_with() { stamp_of "$1" > "$prefix/stamp-$1"; }

rm -rf "$cache/build-$host"
mkdir -p "$prefix/lib" "$prefix/include" "$cache/build-$host"
toolchain=$root/cmake/mingw-w64-$arch.cmake

# Unpacks the source package into the build folder; prints its folder.
fetch() {
  dir=$cache/build-$host/$1
  mkdir -p "$dir"
  (cd "$dir" && apt_src source --download-only "$1" > /dev/null 2>&1 || apt_src source --download-only "$1" >&2)
  dsc=$(ls "$dir"/*.dsc | head -n 1)
  (cd "$dir" && dpkg-source --no-check -x "$dsc" src > /dev/null)
  echo "$dir/src"
}

log=$cache/build-$host/build.log
: > "$log"
step() { echo "windows deps ($host): $1"; }

if ! current xz-utils; then
step "liblzma"
src=$(fetch xz-utils)
(cd "$src" && [ -x configure ] || autoreconf -fi) >> "$log" 2>&1
(cd "$src" && ./configure --host="$host" --prefix="$prefix" --enable-static --disable-shared \
   --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-lzma-links \
   --disable-scripts --disable-doc --disable-nls --disable-threads &&
 make -j"$jobs" -C src/liblzma && make -C src/liblzma install) >> "$log" 2>&1 ||
  { tail -n 40 "$log" >&2; exit 1; }
done_with xz-utils
fi

if ! current libsodium; then
step "libsodium"
src=$(fetch libsodium)
(cd "$src" && { [ -x configure ] || autoreconf -fi; } &&
 ./configure --host="$host" --prefix="$prefix" --enable-static --disable-shared \
   --disable-pie --enable-minimal=no && make -j"$jobs" && make install) >> "$log" 2>&1 ||
  { tail -n 40 "$log" >&2; exit 1; }
done_with libsodium
fi

if ! current libarchive; then
step "libarchive"
src=$(fetch libarchive)
# Only what reading 7z packages needs: LZMA/LZMA2/BCJ2 and zlib; paths as
# wide characters, so no iconv.
(cmake -S "$src" -B "$src/build" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
   -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
   -DLIBLZMA_INCLUDE_DIR="$prefix/include" -DLIBLZMA_LIBRARY="$prefix/lib/liblzma.a" \
   -DZLIB_LIBRARY="/usr/$host/lib/libz.a" -DZLIB_INCLUDE_DIR="/usr/$host/include" \
   -DENABLE_TEST=OFF -DENABLE_TAR=OFF -DENABLE_CPIO=OFF -DENABLE_CAT=OFF -DENABLE_UNZIP=OFF \
   -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_NETTLE=OFF -DENABLE_CNG=OFF \
   -DENABLE_LIBXML2=OFF -DENABLE_EXPAT=OFF -DENABLE_PCREPOSIX=OFF -DENABLE_PCRE2POSIX=OFF \
   -DENABLE_LibGCC=OFF -DENABLE_BZip2=OFF -DENABLE_LZ4=OFF -DENABLE_ZSTD=OFF -DENABLE_LZO=OFF \
   -DENABLE_LIBB2=OFF -DENABLE_ICONV=OFF -DENABLE_ACL=OFF -DENABLE_XATTR=OFF \
   -DENABLE_LZMA=ON -DENABLE_ZLIB=ON -DENABLE_WERROR=OFF &&
 make -C "$src/build" -j"$jobs" archive_static &&
 cp "$src/build/libarchive/libarchive_static.a" "$prefix/lib/libarchive.a" &&
 cp "$src/libarchive/archive.h" "$src/libarchive/archive_entry.h" "$prefix/include/") >> "$log" 2>&1 ||
  { tail -n 40 "$log" >&2; exit 1; }
done_with libarchive
fi

if ! current tinyxml; then
step "TinyXML"
src=$(fetch tinyxml)
# Built as Debian builds it: with the standard library's strings.
(cd "$src" && for f in tinyxml tinystr tinyxmlerror tinyxmlparser; do
   "$host-g++-posix" -O2 -DTIXML_USE_STL -c "$f.cpp" -o "$f.o" || exit 1
 done && "$host-ar" rcs "$prefix/lib/libtinyxml.a" tinyxml.o tinystr.o tinyxmlerror.o tinyxmlparser.o &&
 cp tinyxml.h tinystr.h "$prefix/include/") >> "$log" 2>&1 ||
  { tail -n 40 "$log" >&2; exit 1; }
done_with tinyxml
fi

rm -rf "$cache/build-$host"
echo "$prefix"
