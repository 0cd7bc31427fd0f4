#!/bin/sh
# installed_library_test.sh BUILD_FOLDER CONSUMER.c
# Installs the build under a temporary prefix, builds a C program against it
# with pkg-config alone, runs it, then moves the whole tree and does it again.
set -eu
build=$1
source=$2
fail() { echo "installed library: $*" >&2; exit 1; }
top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT
cmake --install "$build" --prefix "$top/first" >/dev/null || fail "cmake --install failed"
# A library built with AddressSanitizer needs its runtime, which a plain C
# program does not load first.
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0

consume() {
  prefix=$1
  pc=$(dirname "$(find "$prefix" -name nndown.pc)")
  [ -n "$pc" ] || fail "no nndown.pc under $prefix"
  export PKG_CONFIG_PATH="$pc"
  includedir=$(pkg-config --variable=includedir nndown)
  [ -f "$includedir/qarnauto/nn_down.h" ] || fail "includedir $includedir holds no qarnauto/nn_down.h (under $prefix)"
  # The header as C programs name it, with its folder (as <curl/curl.h>)
  # and without.
  for form in '<qarnauto/nn_down.h>' '<nn_down.h>'; do
    sed "s|\"engine/nn_down.h\"|$form|" "$source" > "$prefix/consumer.c"
    # shellcheck disable=SC2046
    cc -std=c11 -Wall -Werror -o "$prefix/consumer" "$prefix/consumer.c" $(pkg-config --cflags --libs nndown) ||
      fail "the C program with #include $form does not build against $prefix"
  done
  out=$(LD_LIBRARY_PATH=$(pkg-config --variable=libdir nndown) "$prefix/consumer" 2>&1 || true)
  printf '%s\n' "$out" | grep -q "usage: nn_progress" || fail "the C program does not run: $out"
}
consume "$top/first"
mv "$top/first" "$top/moved-elsewhere"
consume "$top/moved-elsewhere"
echo "installed library ok"
