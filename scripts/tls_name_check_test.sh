#!/bin/sh
# Proves that the HTTPS refusal test can fail: an engine build without the
# host-name check (a test-only setting that a build for use refuses) must
# fail the wrong-name and IP-without-SAN cases, and only those. Exits 0 when
# it does.
#   scripts/tls_name_check_test.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-tls-mutant}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQARNAUTO_TESTS=ON -DQARNAUTO_ENGINE_ONLY=ON \
  -DQARNAUTO_TLS_NAME_CHECK_OFF=ON > /dev/null
cmake --build "$build" -j "${QARNAUTO_JOBS:-2}" --target engine_tests > /dev/null
out=$("$build/engine/engine_tests" --gtest_filter='HttpsTest.EachBadCertificateOrServerIsRefusedInSecondsWithItsReason' 2>&1) &&
  { echo "$out"; echo "tls_name_check_test: without the host-name check the refusal test still passed" >&2; exit 1; }
for name in wrongname noip; do
  echo "$out" | grep -q "https_test.cpp:[0-9]*: $name" ||
    { echo "$out"; echo "tls_name_check_test: the $name case did not fail without the check" >&2; exit 1; }
done
others=$(echo "$out" | grep -o 'https_test.cpp:[0-9]*: [a-z]*' | awk '{print $2}' | sort -u | grep -v -e '^wrongname$' -e '^noip$' || true)
if [ -n "$others" ]; then
  echo "$out"
  echo "tls_name_check_test: other cases failed too: $others" >&2
  exit 1
fi
echo "tls_name_check_test: without the host-name check the wrong-name cases fail, as they must"
