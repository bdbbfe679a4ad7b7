#!/usr/bin/env bash
# Compares an aggregate `velnor collect` with GoAccess (Debian's package) on
# the same IIS web log, and checks that counting in memory stored exactly
# the rows of counting record by record.
#
#   bench/compare_goaccess.sh [RECORDS] [PAIRS]
#
# RECORDS (default 1000000) records over 30 days in IIS's default 15 fields
# are made by bench/make_iis_log.py once and kept in $VELNOR_BENCH_DIR
# (default /tmp/velnor-bench). Each of PAIRS (default 3) pairs runs velnor
# (fresh databases, --no-tui) and then GoAccess on the same files; the
# medians of wall time give each one's records per second and the ratio.
# Peak memory is the largest resident size of each.
set -euo pipefail
cd "$(dirname "$0")/.."
records=${1:-1000000}
pairs=${2:-3}
work=${VELNOR_BENCH_DIR:-/tmp/velnor-bench}

need=()
command -v goaccess >/dev/null || need+=(goaccess)
[[ -x /usr/bin/time ]] || need+=(time)
command -v sqlite3 >/dev/null || need+=(sqlite3)
if [[ ${#need[@]} -gt 0 ]]; then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

scripts/deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVELNOR_TESTS=OFF \
  >/dev/null
cmake --build build-release --target velnor -j "$(nproc)" >/dev/null
velnor=$PWD/build-release/host/velnor

shares=$work/shares-$records
logs=$shares/SRV1/D\$/Logs/W3SVC1
if [[ ! -f $logs/u_ex240630.log ]]; then
  rm -rf "$shares"
  python3 bench/make_iis_log.py "$logs" "$records"
fi
files=("$logs"/u_ex*.log)
size=$(du -sm "$logs" | cut -f1)

# Runs one velnor collect into the fresh folder $1 with further arguments;
# prints "seconds peak-KB".
collect() {
  local db=$1
  shift
  rm -rf "$db"
  mkdir -p "$db"
  "$velnor" init-db --db-dir "$db" --server SRV1 >/dev/null
  /usr/bin/time -f "%e %M" -o "$work/time" "$velnor" collect --server SRV1 \
    --from 2024-06-01 --to 2024-06-30 --db-dir "$db" --share-root "$shares" \
    --site "Site,D:\\Logs,1" --no-tui "$@" >/dev/null 2>"$work/collect.err" ||
    { cat "$work/collect.err" >&2; exit 1; }
  cat "$work/time"
}

goaccess_once() {
  /usr/bin/time -f "%e %M" -o "$work/time" goaccess --log-format=W3C \
    --no-progress -o "$work/goaccess.json" "${files[@]}" >/dev/null 2>&1
  cat "$work/time"
}

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

echo "log: $records records, 30 days, 15 fields, $size MB in ${#files[@]} files"
: >"$work/velnor.times"
: >"$work/goaccess.times"
for ((i = 1; i <= pairs; i++)); do
  v=$(collect "$work/db")
  g=$(goaccess_once)
  echo "$v" >>"$work/velnor.times"
  echo "$g" >>"$work/goaccess.times"
  echo "pair $i: velnor ${v% *} s, GoAccess ${g% *} s"
done

v_s=$(cut -d' ' -f1 "$work/velnor.times" | median)
g_s=$(cut -d' ' -f1 "$work/goaccess.times" | median)
v_kb=$(cut -d' ' -f2 "$work/velnor.times" | sort -g | tail -1)
g_kb=$(cut -d' ' -f2 "$work/goaccess.times" | sort -g | tail -1)
awk -v r="$records" -v v="$v_s" -v g="$g_s" -v vk="$v_kb" -v gk="$g_kb" \
  -v n="$pairs" 'BEGIN {
    printf "velnor   (median of %d): %6.2f s  %9.0f records/s  peak %4.0f MB\n",
           n, v, r / v, vk / 1024
    printf "GoAccess (median of %d): %6.2f s  %9.0f records/s  peak %4.0f MB\n",
           n, g, r / g, gk / 1024
    printf "velnor / GoAccess: %.1fx (target: at least 10x)\n", g / v
  }'

# The same log counted record by record must leave the same rows.
echo "checking the rows against counting record by record ..."
collect "$work/db-per-record" --tally per-record >/dev/null
dump() {
  for f in "$1"/QDX_*.mdb; do
    for t in tblGeneral tblTotalAccess tblLogFiles; do
      sqlite3 "$f" "SELECT * FROM $t ORDER BY rowid" 2>/dev/null || true
    done
  done
}
if cmp -s <(dump "$work/db") <(dump "$work/db-per-record"); then
  echo "rows: identical ($(dump "$work/db" | wc -l) rows in 4 databases)"
else
  echo "rows: DIFFERENT from counting record by record" >&2
  exit 1
fi
