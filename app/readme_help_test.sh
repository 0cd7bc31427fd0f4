#!/bin/sh
# readme_help_test.sh README.md QARNAUTO
# The README's copy of `qarnauto --help` is what the program prints.
set -eu
readme=$1
exe=$2
copy=$(awk '/^\$ qarnauto --help$/ { on = 1; next } on && /^```/ { exit } on { print }' "$readme")
actual=$("$exe" --help)
if [ "$copy" != "$actual" ]; then
  echo "the README's copy of qarnauto --help differs from the program's:" >&2
  printf '%s\n' "$actual" > "${TMPDIR:-/tmp}/help.$$"
  printf '%s\n' "$copy" | diff - "${TMPDIR:-/tmp}/help.$$" >&2 || true
  rm -f "${TMPDIR:-/tmp}/help.$$"
  exit 1
fi
