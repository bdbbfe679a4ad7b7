#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy, and host/.clang-tidy's naming
# rules below host/) over C++ files and exits 1 on any finding. It reads
# the compile commands of a configured build: build-test, or the folder in
# VELNOR_TIDY_BUILD.
#
#   scripts/tidy.sh                 # host/, the run lock, site discovery
#   scripts/tidy.sh FILE.cpp ...    # the files given
#   scripts/tidy.sh --all           # every .cpp the build compiles
#
# Checking the whole tree takes long on a small machine (most of an hour on
# two cores), so the test command leaves it out.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VELNOR_TIDY_BUILD:-build-test}
if [[ ! -f "$build/compile_commands.json" ]]; then
  echo "tidy: no $build/compile_commands.json: configure the build first" \
    "(README, \"Building\")" >&2
  exit 2
fi
if [[ $# -eq 0 ]]; then
  mapfile -t files < <(git ls-files 'host/*.cpp' 'reportdb/run_lock*.cpp' \
    'reportdb/pg_run_lock*.cpp' 'siteconfig/site_discovery*.cpp')
elif [[ $1 == --all ]]; then
  mapfile -t files < <(git ls-files '*.cpp')
else
  files=("$@")
fi
if ! command -v clang-tidy >/dev/null; then
  echo "tidy: clang-tidy is not installed (scripts/deps.sh installs it)" >&2
  exit 2
fi
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
# clang-tidy's own progress lines go to standard error; the findings, to
# standard output. xargs exits 123 when a clang-tidy found something, and
# 124 to 127 when one crashed, was killed or could not run.
status=0
printf '%s\n' "${files[@]}" |
  xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet >"$out" 2>"$err" ||
  status=$?
if ((status >= 124)) || grep -q 'Error while processing' "$err"; then
  cat "$out" "$err"
  echo "tidy: clang-tidy could not check every file (exit $status)" >&2
  exit 2
fi
if grep -q ': \(warning\|error\):' "$out"; then
  cat "$out"
  echo "tidy: findings above" >&2
  exit 1
fi
echo "tidy: ${#files[@]} files clean"
