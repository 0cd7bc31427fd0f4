# Shared by the benchmark scripts (sourced, not run).

# measure NAME CMD...: runs one download into $work/out, checks the file
# against $work/www/big.bin and appends "wall cpu rss_kib" to $work/NAME.times.
measure() {
  local name=$1
  shift
  /usr/bin/time -f '%e %U %S %M' -o "$work/t" "$@" >/dev/null
  if ! cmp "$work/out/big.bin" "$work/www/big.bin"; then
    echo "  $name: downloaded file differs" >&2
    exit 1
  fi
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/t" >> "$work/$name.times"
}

# The median of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
