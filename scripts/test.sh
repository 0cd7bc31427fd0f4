#!/bin/sh
# The test command: installs what is missing, builds the Windows programs
# and runs their tests under Wine, then builds and runs every test three
# times: under AddressSanitizer with UndefinedBehaviorSanitizer
# (everything), under ThreadSanitizer (the engine and the platform layer),
# and as the plain Release build a user or a package gets (configured with
# the defaults, no sanitizers).
set -eu
cd "$(dirname "$0")/.."
# Each stage's start, in seconds since the first, for CI's time budget.
started=$(date +%s)
stage() { echo "== $(( $(date +%s) - started )) s: $1"; }
stage "installing what is missing"
scripts/install_deps.sh test

jobs=${QARNAUTO_JOBS:-2}

# A test skips when something it needs is missing; where everything is
# installed (CI sets QARNAUTO_NO_SKIPS=1) a skip means an install step is
# missing, and fails the run.
run_tests() {
  log=$(mktemp)
  status=0
  (cd "$1" && shift && ctest -j "$jobs" --output-on-failure "$@") > "$log" 2>&1 || status=$?
  cat "$log"
  if [ "$status" -eq 0 ] && [ "${QARNAUTO_NO_SKIPS:-}" = 1 ] && grep -q '\*\*\*Skipped' "$log"; then
    echo "tests were skipped on a machine that should have everything:" >&2
    grep '\*\*\*Skipped' "$log" >&2
    status=1
  fi
  rm -f "$log"
  return "$status"
}

# The Windows build first: the Linux test programs run its engine library
# under Wine, and look at its window (wine_window_tests). Its own tests run
# under Wine in a prefix of this run's own, and qarnauto.exe updates there
# from an nginx. Left out: the fault plan of
# the file registry store (the Linux one's alone), the FTP server (none runs
# for a Windows test) and a symbolic link in the unpack folder (Wine makes
# none: it answers success and creates nothing).
stage "Windows build and tests under Wine"
wine_prefix=$(mktemp -d)
export QARNAUTO_WINEPREFIX="$wine_prefix/prefix"
scripts/build_windows.sh --tests
windows_status=0
# Without a display the updater under Wine takes its terminal mode, and no
# test of this stage shows anything on the screen of whoever runs it.
DISPLAY= run_tests build-windows \
  -E 'StoreFaultTest.AFailedRenameOrFsync|FtpTransferTest.RealServer|PackageTest.ALinkAlreadyInTheUnpackFolderLeadsNowhere' ||
  windows_status=$?
WINEPREFIX="$QARNAUTO_WINEPREFIX" wineserver -k 2> /dev/null || true
unset QARNAUTO_WINEPREFIX
rm -rf "$wine_prefix"
[ "$windows_status" -eq 0 ] || exit "$windows_status"

stage "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQARNAUTO_TESTS=ON -DQARNAUTO_SANITIZE=address,undefined \
  -DQARNAUTO_WERROR=ON
cmake --build build -j "$jobs"
run_tests build

stage "ThreadSanitizer build and tests"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQARNAUTO_TESTS=ON -DQARNAUTO_SANITIZE=thread \
  -DQARNAUTO_ENGINE_ONLY=ON -DQARNAUTO_WERROR=ON
cmake --build build-tsan -j "$jobs"
run_tests build-tsan -L 'engine|platform'
# The package's unpacking threads too: a build of the update library alone.
cmake -S . -B build-tsan-update -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQARNAUTO_TESTS=ON \
  -DQARNAUTO_SANITIZE=thread -DQARNAUTO_WERROR=ON
cmake --build build-tsan-update -j "$jobs" --target update_tests qarnauto-pack
run_tests build-tsan-update -R '^(PackTest|PackageTest)\.'

stage "Release build and tests"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQARNAUTO_TESTS=ON
# With the defaults a warning does not stop the build, but the project's own
# build must have none: an optimised build warns where a debug build cannot.
if ! cmake --build build-release -j "$jobs" > build-release/build.log 2>&1; then
  cat build-release/build.log
  exit 1
fi
cat build-release/build.log
if grep -q "warning:" build-release/build.log; then
  echo "the Release build warns (see build-release/build.log)" >&2
  exit 1
fi
# The Windows window's tests look at the Windows build from outside: the
# sanitizer stage has run them.
run_tests build-release -LE wine_window

# The Debian package from the Release build, inspected without installing it.
stage "Debian package"
scripts/check_package.sh "$(scripts/package.sh build-release)"
stage "done"
