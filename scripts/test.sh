#!/usr/bin/env bash
# Checks that every C++ file is formatted as .clang-format says and that
# includes follow the layers and the CMake dependencies, builds
# everything from scratch with warnings as errors under
# AddressSanitizer and UndefinedBehaviorSanitizer, builds the library, the
# command and the benchmarks again as Release (optimised builds warn about
# what unoptimised ones do not), builds the tests that run threads again
# under ThreadSanitizer (their own folder, only those targets), then runs
# every test, and those again under ThreadSanitizer. A test whose tool
# (tmux, chromium, smbd, PostgreSQL) is missing fails here rather than
# skipping: VELNOR_REQUIRE_TEST_TOOLS.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
echo "== format (clang-format $(clang-format --version | grep -o '[0-9][0-9.]*' | head -1))"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "== layers"
scripts/check_layers.sh
build=build-test
echo "== sanitizer build ($build)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DVELNOR_WERROR=ON \
  -DVELNOR_SANITIZE=ON -DVELNOR_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "== Release build (build-release)"
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVELNOR_WERROR=ON \
  -DVELNOR_TESTS=OFF -DVELNOR_BENCH=ON >/dev/null
cmake --build build-release -j "$(nproc)"
# The test programs that start threads, as build-tsan/<folder>/<program>:
# the pool of huge-page regions', the log reader's, the whole runs' (each file read ahead, sites read by
# two workers), and of the command's run tests those with several workers,
# whose velnor (built here too) runs the host's per-site hooks on them.
tsan_tests=(platform/automation/automation_test platform/iislog/iislog_test
  component/component_test host/collect_run_test)
declare -A tsan_filter=([platform/automation/automation_test]='HugePage*'
  [host/collect_run_test]='*Workers*')
echo "== ThreadSanitizer build (build-tsan: ${tsan_tests[*]##*/})"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DVELNOR_WERROR=ON \
  -DVELNOR_TSAN=ON -DVELNOR_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$(nproc)" --target "${tsan_tests[@]##*/}"
echo "== tests"
export VELNOR_REQUIRE_TEST_TOOLS=1
(cd "$build" && ctest --output-on-failure -j "$(nproc)")
echo "== tests under ThreadSanitizer"
for test in "${tsan_tests[@]}"; do
  TSAN_OPTIONS="halt_on_error=1" "build-tsan/$test" --gtest_brief=1 \
    --gtest_filter="${tsan_filter[$test]:-*}"
done
