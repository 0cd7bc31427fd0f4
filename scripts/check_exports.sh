#!/bin/sh
# check_exports.sh exact|engine FILE
#   exact:  the functions FILE exports are exactly the engine's three entry
#           points (the shared engine library).
#   engine: FILE exports the three entry points and nothing of the engine's
#           inside (an executable also re-exports the C++ library's
#           inline functions it uses, which is not ours to hide).
set -eu
mode=$1
file=$2
found=$(nm -D --defined-only "$file" | awk '$2 == "T" || $2 == "W" { print $3 }' | sort)
entry=$(printf '%s\n' "$found" | grep -E '^NN_' | tr '\n' ' ')
if [ "$entry" != "NN_Down_n1 NN_Down_nn NN_Stop " ]; then
  echo "entry points exported by $file: '$entry'" >&2
  exit 1
fi
if [ "$mode" = exact ]; then
  others=$(printf '%s\n' "$found" | grep -vE '^NN_' || true)
else
  others=$(printf '%s\n' "$found" | grep -vE '^NN_' | grep -vE '^_ZN?K?St|^_ZSt|^_ZNK?St' || true)
fi
if [ -n "$others" ]; then
  echo "$file exports more than the entry points:" >&2
  printf '%s\n' "$others" | head -20 >&2
  exit 1
fi
