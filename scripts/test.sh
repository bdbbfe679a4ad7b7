#!/usr/bin/env bash
# Builds everything from scratch with warnings as errors under
# AddressSanitizer and UndefinedBehaviorSanitizer, then runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=build-test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DVELNOR_WERROR=ON \
  -DVELNOR_SANITIZE=ON -DVELNOR_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure -j "$(nproc)"
