#!/usr/bin/env bash
# Two builds' benchmarks side by side, to show that a change made nothing
# slower: every Google Benchmark of bench/ and progress/ runs in the
# reference build and in the new one, alternately, `runs` times each; the
# best wall time of each side is printed with new/ref (below 1 is faster).
# Alternating keeps a machine's passing load from favouring one side.
#
#   bench/compare_builds.sh REF_BUILD NEW_BUILD [runs]     # runs: 3
#
# Both builds are Release builds with VELNOR_BENCH=ON, for instance a
# worktree of the earlier commit built into its build-release.
set -euo pipefail
ref=${1:?usage: bench/compare_builds.sh REF_BUILD NEW_BUILD [runs]}
new=${2:?usage: bench/compare_builds.sh REF_BUILD NEW_BUILD [runs]}
runs=${3:-3}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

benches=(bench/iislog_bench bench/collector_bench bench/report_store_bench
  bench/ado_bench progress/progress_bench)
for ((i = 1; i <= runs; i++)); do
  for b in "${benches[@]}"; do
    for side in ref new; do
      dir=${!side}
      [[ -x "$dir/$b" ]] || { echo "no $dir/$b: build it first" >&2; exit 2; }
      # The results go to a file of their own: a bench may print more than
      # its table (collector_bench ends with the run's share of the reader).
      "$dir/$b" --benchmark_out="$out/$side-$(basename "$b")-$i.json" \
        --benchmark_out_format=json >/dev/null 2>&1
    done
  done
done

python3 - "$out" <<'EOF'
import glob, json, os, sys
best = {}
for path in glob.glob(os.path.join(sys.argv[1], "*.json")):
    side = os.path.basename(path).split("-")[0]
    for b in json.load(open(path))["benchmarks"]:
        if b.get("run_type") == "aggregate":
            continue
        seconds = b["real_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1}[b["time_unit"]]
        key = (b["name"], side)
        best[key] = min(best.get(key, seconds), seconds)
names = sorted({name for name, _ in best})
print(f"{'benchmark':58} {'ref':>12} {'new':>12} {'new/ref':>8}")
for name in names:
    ref, new = best.get((name, "ref")), best.get((name, "new"))
    if ref is None or new is None:
        print(f"{name:58} {'-' if ref is None else f'{ref:.6g} s':>12} {'-' if new is None else f'{new:.6g} s':>12}")
        continue
    print(f"{name:58} {ref:>10.6g} s {new:>10.6g} s {new / ref:>8.3f}")
EOF
