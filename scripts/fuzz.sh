#!/bin/sh
# Fuzzes the resume-log reader with libFuzzer under AddressSanitizer.
#   scripts/fuzz.sh [seconds]   (default 600)
# Not part of the test command: run it by hand after changing the reader.
set -eu
cd "$(dirname "$0")/.."
scripts/install_deps.sh
seconds=${1:-600}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQARNAUTO_FUZZ=ON -DQARNAUTO_WERROR=OFF
cmake --build build-fuzz --target resume_log_fuzz
work=$(mktemp -d)
mkdir -p fuzz-out/corpus
cp -n engine/fuzz_seeds/* fuzz-out/corpus/ 2>/dev/null || true
corpus=$(pwd)/fuzz-out/corpus
fuzzer=$(pwd)/build-fuzz/engine/resume_log_fuzz
cd "$work"
"$fuzzer" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 "$corpus"
cd / && rm -rf "$work"
