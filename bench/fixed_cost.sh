#!/usr/bin/env bash
# The fixed cost of a run: `velnor collect` end to end of a tiny site, on a
# warm cache, in the nightly case (the ledger and statistics files exist).
#
#   bench/fixed_cost.sh [RECORDS] [RUNS]
#
# Makes one site with RUNS+2 daily files of RECORDS records (default 1000
# and 5, RUNS at most 7) in $VELNOR_BENCH_DIR (default /tmp/velnor-bench),
# collects the first day (which creates the ledger and statistics files),
# then each further day in a run of its own. Prints the median wall time,
# CPU time (user and system) and minor page faults of RUNS runs, the times
# in ms (from python3's wait4; /usr/bin/time rounds to 10 ms, a fifth of
# what is measured), and the fsyncs of the last run (under strace, when
# installed, so not timed): on a disk whose flushes are slow they, not the
# CPU, make the fixed cost.
# $VELNOR names the binary to time (default: build-release's, built here).
set -euo pipefail
cd "$(dirname "$0")/.."
records=${1:-1000}
runs=${2:-5}
((runs >= 1 && runs <= 7)) || { echo "RUNS must be 1 to 7" >&2; exit 2; }
work=${VELNOR_BENCH_DIR:-/tmp/velnor-bench}
velnor=${VELNOR:-}
if [[ -z $velnor ]]; then
  cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVELNOR_TESTS=OFF \
    >/dev/null
  cmake --build build-release --target velnor -j "$(nproc)" >/dev/null
  velnor=$PWD/build-release/host/velnor
fi

shares=$work/fixed-cost-$records-$runs
logs=$shares/SRV1/D\$/Logs/W3SVC1
[[ -d $logs ]] ||
  python3 bench/make_iis_log.py "$logs" "$records" --days $((runs + 2))
db=$work/fixed-cost-db
rm -rf "$db"
mkdir -p "$db"
"$velnor" init-db --db-dir "$db" --server SRV1 >/dev/null

# collect_day N [PREFIX...]: collects 2024-06-0N (N <= 9) under PREFIX.
collect_day() {
  local day=2024-06-0$1
  shift
  "$@" "$velnor" collect --server SRV1 --from "$day" --to "$day" \
    --db-dir "$db" --share-root "$shares" --site "Site 1,D:\\Logs,1" \
    --no-tui >/dev/null 2>"$work/collect.err" ||
    { cat "$work/collect.err" >&2; exit 1; }
}

# timed COMMAND...: runs COMMAND and appends its wall and CPU ms (user and
# system) and its minor page faults to fixed-cost.times; fails as COMMAND
# does.
timed() {
  python3 - "$work/fixed-cost.times" "$@" <<'EOF'
import os, subprocess, sys, time
start = time.perf_counter()
child = subprocess.Popen(sys.argv[2:])
_, status, usage = os.wait4(child.pid, 0)
wall = time.perf_counter() - start
with open(sys.argv[1], "a") as times:
    times.write(f"{wall * 1e3:.1f} "
                f"{(usage.ru_utime + usage.ru_stime) * 1e3:.1f} "
                f"{usage.ru_minflt}\n")
sys.exit(os.waitstatus_to_exitcode(status))
EOF
}

collect_day 1
: >"$work/fixed-cost.times"
for ((day = 2; day <= runs + 1; day++)); do
  collect_day "$day" timed
done
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
wall=$(awk '{print $1}' "$work/fixed-cost.times" | median)
cpu=$(awk '{print $2}' "$work/fixed-cost.times" | median)
faults=$(awk '{print $3}' "$work/fixed-cost.times" | median)
echo "fixed cost, $records records, median of $runs runs: ${wall} ms wall," \
  "${cpu} ms CPU, $faults page faults"
if command -v strace >/dev/null; then
  collect_day $((runs + 2)) strace -f -c -o "$work/fixed-cost.strace" \
    -e trace=fsync,fdatasync
  echo "fsyncs of one run:" \
    "$(awk '$NF ~ /sync$/ {n += $4} END {print n + 0}' \
      "$work/fixed-cost.strace")"
fi
