#!/bin/bash
# check_exports.sh exact|engine FILE
#   exact:  the functions FILE exports are exactly the engine's entry points:
#           the three download calls and the two notification-target calls
#           (the shared engine library).
#   engine: FILE exports those entry points and nothing else of its own:
#           every other export must be a symbol that one of the shared
#           libraries it uses defines or refers to (the linker exports those
#           from an executable so that one copy serves all; they are not ours
#           to hide).
set -eu
mode=$1
file=$2
export LC_ALL=C
found=$(nm -D --defined-only "$file" | awk '$2 == "T" || $2 == "W" { print $3 }' | sort)
entry=$(printf '%s\n' "$found" | grep -E '^NN_' | tr '\n' ' ')
if [ "$entry" != "NN_CreateNotifyTarget NN_DestroyNotifyTarget NN_Down_n1 NN_Down_nn NN_Stop " ]; then
  echo "entry points exported by $file: '$entry'" >&2
  exit 1
fi
if [ "$mode" = exact ]; then
  others=$(printf '%s\n' "$found" | grep -vE '^NN_' || true)
else
  libraries=$(ldd "$file" | awk '$3 ~ /^\// { print $3 }')
  theirs=$(for l in $libraries; do nm -D "$l" 2>/dev/null | awk '{ print $NF }' | sed 's/@.*//'; done | sort -u)
  others=$(printf '%s\n' "$found" | grep -vE '^NN_' | sort | comm -23 - <(printf '%s\n' "$theirs") || true)
fi
if [ -n "$others" ]; then
  echo "$file exports more than the entry points:" >&2
  printf '%s\n' "$others" | head -20 >&2
  exit 1
fi
