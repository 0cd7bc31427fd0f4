#!/bin/sh
# The test command: installs what is missing, then builds and runs every test
# twice, under AddressSanitizer with UndefinedBehaviorSanitizer (everything)
# and under ThreadSanitizer (the engine and the platform layer).
set -eu
cd "$(dirname "$0")/.."
scripts/install_deps.sh

jobs=${QARNAUTO_JOBS:-2}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQARNAUTO_SANITIZE=address,undefined
cmake --build build -j "$jobs"
(cd build && ctest -j "$jobs" --output-on-failure)

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQARNAUTO_SANITIZE=thread \
  -DQARNAUTO_ENGINE_ONLY=ON
cmake --build build-tsan -j "$jobs"
(cd build-tsan && ctest -j "$jobs" --output-on-failure -L engine)
