#!/bin/sh
# Fuzzes every parser that reads outside input with libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer: the resume log, HTTP
# responses, FTP and PASV replies, URLs, the launch-argument string, the
# language documents, package entry names and package headers.
#   scripts/fuzz.sh [seconds-per-target] [target...]   (default 600, all)
# Not part of the test command. Corpora grow in fuzz-out/<target>/; a crash
# leaves its input in fuzz-out/<target>/crash-*: keep it as a regression
# test once fixed.
set -eu
cd "$(dirname "$0")/.."
scripts/install_deps.sh fuzz
seconds=${1:-600}
[ $# -gt 0 ] && shift
targets=${*:-"resume_log_fuzz http_response_fuzz ftp_reply_fuzz url_fuzz launch_settings_fuzz language_texts_fuzz package_entry_fuzz package_layout_fuzz"}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQARNAUTO_FUZZ=ON >/dev/null
# shellcheck disable=SC2086
cmake --build build-fuzz --target $targets
root=$(pwd)
status=0
for target in $targets; do
  fuzzer=$(find "$root/build-fuzz" -type f -name "$target" | head -1)
  corpus=$root/fuzz-out/$target
  mkdir -p "$corpus"
  [ -d "$root/fuzz/seeds/$target" ] && cp -n "$root/fuzz/seeds/$target"/* "$corpus"/ 2>/dev/null || true
  work=$(mktemp -d)
  echo "== $target, $seconds s"
  rc=0
  (cd "$work" && "$fuzzer" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
     -artifact_prefix="$corpus/" "$corpus" > "$work/log" 2>&1) || rc=$?
  grep -E "^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)" "$work/log" || true
  if [ "$rc" -ne 0 ]; then
    status=1
    tail -40 "$work/log"
  fi
  rm -rf "$work"
done
exit $status
