#!/bin/sh
# Inspects a built qarnauto .deb without installing it: its files, its
# control fields, and a C program built against its header, library and
# pkg-config file.
#   scripts/check_package.sh PACKAGE.deb
set -eu
deb=$1
fail() { echo "check_package: $*" >&2; exit 1; }

contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
for f in ./usr/bin/qarnauto ./usr/share/man/man1/qarnauto.1 \
         ./usr/include/qarnauto/nn_down.h; do
  printf '%s\n' "$contents" | grep -qx "$f" || fail "missing $f"
done
printf '%s\n' "$contents" | grep -qE '^\./usr/lib/([^/]+/)?libnndown\.so$' || fail "missing libnndown.so"
printf '%s\n' "$contents" | grep -qE '^\./usr/lib/([^/]+/)?pkgconfig/nndown\.pc$' || fail "missing nndown.pc"
printf '%s\n' "$contents" | grep -qE 'test|gtest' && fail "test files in the package"

[ "$(dpkg-deb --field "$deb" Package)" = qarnauto ] || fail "Package field"
[ -n "$(dpkg-deb --field "$deb" Version)" ] || fail "no Version"
[ "$(dpkg-deb --field "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture"
depends=$(dpkg-deb --field "$deb" Depends)
for lib in libc6 libstdc++6 libarchive13 libtinyxml; do
  printf '%s\n' "$depends" | grep -q "$lib" || fail "Depends lacks $lib: $depends"
done

# A C program against the unpacked tree, through pkg-config.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
man -l "$root/usr/share/man/man1/qarnauto.1" >/dev/null 2>&1 || fail "the manual page does not format"
pc=$(dirname "$(find "$root/usr/lib" -name nndown.pc)")
flags=$(PKG_CONFIG_PATH=$pc pkg-config --define-variable=prefix="$root/usr" --cflags --libs nndown)
here=$(cd "$(dirname "$0")/.." && pwd)
sed 's|"engine/nn_down.h"|<nn_down.h>|' "$here/tools/nn_progress.c" > "$root/consumer.c"
# shellcheck disable=SC2086
cc -std=c11 -Wall -Werror -o "$root/consumer" "$root/consumer.c" $flags || fail "the C program does not build"
lib=$(dirname "$(find "$root/usr/lib" -name libnndown.so)")
out=$(LD_LIBRARY_PATH=$lib "$root/consumer" 2>&1 || true)
printf '%s\n' "$out" | grep -q "usage: nn_progress" || fail "the C program does not run: $out"
"$root/usr/bin/qarnauto" --version | grep -q "^qarnauto $(dpkg-deb --field "$deb" Version)" ||
  fail "qarnauto --version"
echo "package ok: $deb"
echo "Depends: $depends"
