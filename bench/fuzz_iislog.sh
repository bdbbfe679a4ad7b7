#!/usr/bin/env bash
# Fuzzes the IIS log reader for SECONDS seconds (default 300) with libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer. The corpus starts from the
# test logs, each as a plain file and as a file named ".gz" (the first byte
# of an input chooses the read piece size and the ".gz" name). Crashes are
# written to build-fuzz-iislog/artifacts/. Not part of CI.
set -euo pipefail
seconds=${1:-300}
cd "$(dirname "$0")/.."
build=build-fuzz-iislog
flags="-g -O1 -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
  -DVELNOR_FUZZ=ON -DVELNOR_TESTS=OFF -DVELNOR_BENCH=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" --target iis_log_fuzzer -j2

corpus=$build/corpus
mkdir -p "$corpus" "$build/artifacts"
for f in platform/iislog/testdata/*.log; do
  name=$(basename "$f")
  { printf '\x3f'; cat "$f"; } >"$corpus/plain-$name"
  { printf '\x87'; gzip -c "$f"; } >"$corpus/gzip-$name"
done

exec "$build/platform/iislog/iis_log_fuzzer" "$corpus" \
  -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$build/artifacts/" -print_final_stats=1
