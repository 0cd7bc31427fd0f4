#!/bin/sh
# The test command: installs what is missing, builds the Windows programs
# and runs their tests under Wine, then builds and runs every test three
# times: under AddressSanitizer with UndefinedBehaviorSanitizer
# (everything), under ThreadSanitizer (the engine and the platform layer),
# and as the plain Release build a user or a package gets (configured with
# the defaults, no sanitizers).
#
# The Windows programs that run under Wine are the design's i686 build where
# this machine runs 32-bit programs, and the x86_64 build of the same source
# where its kernel runs none (or QARNAUTO_WINE_ARCH=x86_64 asks for it); the
# i686 build is made either way and its exports and imports checked.
set -eu
cd "$(dirname "$0")/.."
# Each stage's start, in seconds since the first, for CI's time budget.
started=$(date +%s)
stage() { echo "== $(( $(date +%s) - started )) s: $1"; }
# What could not run, said again loudly at the end.
not_run=""
stage "installing what is missing"
scripts/install_deps.sh test

# A 32-bit program is run to see whether this machine runs them: a kernel
# without its 32-bit emulation fails every one, whatever is installed.
if [ "${QARNAUTO_WINE_ARCH:-}" = x86_64 ]; then
  wine_arch=x86_64
  why="QARNAUTO_WINE_ARCH=x86_64 asks for it"
elif probe=$(scripts/runs_32bit.sh); then
  wine_arch=i686
  why="this machine runs 32-bit programs"
else
  wine_arch=x86_64
  why="this machine runs no 32-bit program: ${probe#no: }"
fi
if [ "$wine_arch" = i686 ] && ! scripts/install_deps.sh wine32; then
  # CI must have everything; elsewhere the rest still runs.
  [ "${QARNAUTO_NO_SKIPS:-}" != 1 ] || exit 1
  wine_arch=x86_64
  why="the 32-bit Wine could not be installed (see above)"
  not_run="the i686 Windows build under Wine: the 32-bit Wine could not be installed (see the install's line above); its x86_64 build ran in its place"
fi
windows_build=build-windows
[ "$wine_arch" = i686 ] || windows_build=build-windows-$wine_arch
echo "== the Windows tests run the $wine_arch build ($windows_build) under Wine: $why"

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
stage "Windows build ($wine_arch) and tests under Wine"
wine_prefix=$(mktemp -d)
export QARNAUTO_WINEPREFIX="$wine_prefix/prefix"
# The design's build is made either way: its exports and imports are
# checked from the Linux side even where it cannot run.
[ "$wine_arch" = i686 ] || scripts/build_windows.sh i686
scripts/build_windows.sh --tests "$wine_arch"
windows_status=0
# The first program to draw in a new prefix waits while Wine reads every
# installed font, holding Wine's font lock against every other program that
# needs a font: read them once here, outside any test's time.
DISPLAY= scripts/wine_run.sh "$windows_build/ui_tests.exe" --gtest_filter='BarTest.*' > /dev/null 2>&1 || true
# Without a display the updater under Wine takes its terminal mode, and no
# test of this stage shows anything on the screen of whoever runs it. One
# test at a time: in one prefix, two Wine programs that make a shell link
# or draw at once wait for each other's start of a desktop Wine cannot
# make without a display, 10 s a time.
saved_jobs=$jobs
jobs=1
DISPLAY= run_tests "$windows_build" \
  -E 'StoreFaultTest.AFailedRenameOrFsync|FtpTransferTest.RealServer|PackageTest.ALinkAlreadyInTheUnpackFolderLeadsNowhere' ||
  windows_status=$?
jobs=$saved_jobs
WINEPREFIX="$QARNAUTO_WINEPREFIX" wineserver -k 2> /dev/null || true
unset QARNAUTO_WINEPREFIX
rm -rf "$wine_prefix"
[ "$windows_status" -eq 0 ] || exit "$windows_status"
# The Linux builds look at, and start, the same Windows programs.
windows_args="-DQARNAUTO_WINDOWS_BUILD=$(pwd)/$windows_build -DQARNAUTO_WINE_ARCH=$wine_arch"

stage "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQARNAUTO_TESTS=ON -DQARNAUTO_SANITIZE=address,undefined \
  -DQARNAUTO_WERROR=ON $windows_args
cmake --build build -j "$jobs"
run_tests build

stage "ThreadSanitizer build and tests"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQARNAUTO_TESTS=ON -DQARNAUTO_SANITIZE=thread \
  -DQARNAUTO_ENGINE_ONLY=ON -DQARNAUTO_WERROR=ON $windows_args
cmake --build build-tsan -j "$jobs"
run_tests build-tsan -L 'engine|platform'
# The package's unpacking threads and the fetch by blocks too: a build of
# the update library alone.
cmake -S . -B build-tsan-update -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQARNAUTO_TESTS=ON \
  -DQARNAUTO_SANITIZE=thread -DQARNAUTO_WERROR=ON $windows_args
cmake --build build-tsan-update -j "$jobs" --target update_tests qarnauto-pack
run_tests build-tsan-update -R '^(PackTest|PackageTest|DeltaUpdateTest)\.'

stage "the HTTPS refusal test fails without the host-name check"
scripts/tls_name_check_test.sh build-tls-mutant

stage "Release build and tests"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQARNAUTO_TESTS=ON $windows_args
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
if [ -n "$not_run" ]; then
  echo "==================================================================" >&2
  echo "NOT RUN: $not_run" >&2
  echo "==================================================================" >&2
fi
