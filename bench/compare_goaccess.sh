#!/usr/bin/env bash
# Compares an aggregate `velnor collect` with GoAccess (Debian's package) on
# the same IIS web logs, and checks that counting in memory stored exactly
# the rows of counting record by record.
#
#   bench/compare_goaccess.sh [RECORDS] [PAIRS]
#
# Two cases, side by side: one site with one file of RECORDS records
# (default 1000000) of one day, and four sites of RECORDS/4 records each;
# the records are in IIS's default 15 fields, made by bench/make_iis_log.py
# once and kept in $VELNOR_BENCH_DIR (default /tmp/velnor-bench). Each of
# PAIRS (default 3) pairs runs velnor (fresh databases, --no-tui, with its
# statistics on, as by default) and then GoAccess on the same files; the
# medians of wall time give each one's records per second and the ratio.
# Each pair also runs velnor with --no-statistics, whose median shows what
# the statistics cost. Peak memory is the largest resident size of each
# (/usr/bin/time).
#
# A third case is the nightly one: four sites of RECORDS/4 records a day
# over two days, the first day collected into fresh databases and the
# second, timed, into those rows (most of its keys are stored already and
# raised), against GoAccess on the second day's files alone.
#
# Two cases of velnor alone follow: memory, one site of MEMORY_RECORDS
# (default 5 * RECORDS) records over five days, counted with statistics in
# one run (its peak resident size; target: at most 150 MB); and the fixed
# cost of a nightly run of 1,000 records (target: at most 50 ms), timed by
# bench/fixed_cost.sh with this build.
set -euo pipefail
cd "$(dirname "$0")/.."
records=${1:-1000000}
pairs=${2:-3}
memory_records=${MEMORY_RECORDS:-$((5 * records))}
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

# make_case NAME SITES [RECORDS [DAYS]]: SITES folders of RECORDS/SITES
# records (default: the RECORDS argument) over DAYS days (default 1) from
# 2024-06-01; the case's folder is NAME-RECORDS.
make_case() {
  local n=${3:-$records} days=${4:-1}
  local shares=$work/$1-$n
  local i
  for ((i = 1; i <= $2; i++)); do
    local logs=$shares/SRV1/D\$/Logs/W3SVC$i
    [[ -f $logs/u_ex240601.log ]] ||
      python3 bench/make_iis_log.py "$logs" $((n / $2)) --days "$days"
  done
}
make_case one-file 1
make_case four-sites 4
make_case memory 1 "$memory_records" 5
make_case next-day 4 $((2 * records)) 2
# Runs one velnor collect of case $1 with $2 sites into the fresh folder $3
# (or, with KEEP_DB set, into the databases it holds), with further
# arguments; prints "seconds peak-KB". The case's records are RECORDS
# unless CASE_RECORDS says otherwise; its days run from FROM (default
# 2024-06-01) to TO (default FROM).
collect() {
  local shares=$work/$1-${CASE_RECORDS:-$records} sites=() i
  for ((i = 1; i <= $2; i++)); do sites+=(--site "Site $i,D:\\Logs,$i"); done
  local db=$3 from=${FROM:-2024-06-01}
  shift 3
  if [[ -z ${KEEP_DB:-} ]]; then
    rm -rf "$db"
    mkdir -p "$db"
    "$velnor" init-db --db-dir "$db" --server SRV1 >/dev/null
  fi
  /usr/bin/time -f "%e %M" -o "$work/time" "$velnor" collect --server SRV1 \
    --from "$from" --to "${TO:-$from}" --db-dir "$db" \
    --share-root "$shares" \
    "${sites[@]}" --no-tui "$@" >/dev/null 2>"$work/collect.err" ||
    { cat "$work/collect.err" >&2; exit 1; }
  cat "$work/time"
}

goaccess_once() {
  /usr/bin/time -f "%e %M" -o "$work/time" goaccess --log-format=W3C \
    --no-progress -o "$work/goaccess.json" "$@" >/dev/null 2>&1
  cat "$work/time"
}

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# compare NAME SITES: the pairs of one case and its line of figures.
compare() {
  local files=("$work/$1-$records"/SRV1/D\$/Logs/W3SVC*/u_ex*.log)
  local size
  size=$(du -cm "${files[@]}" | tail -1 | cut -f1)
  echo "$1: $records records, $2 site(s), $size MB in ${#files[@]} file(s)"
  : >"$work/velnor.times"
  : >"$work/goaccess.times"
  : >"$work/counts-only.times"
  local i v g c
  for ((i = 1; i <= pairs; i++)); do
    v=$(collect "$1" "$2" "$work/db")
    g=$(goaccess_once "${files[@]}")
    c=$(collect "$1" "$2" "$work/db" --no-statistics)
    echo "$v" >>"$work/velnor.times"
    echo "$g" >>"$work/goaccess.times"
    echo "$c" >>"$work/counts-only.times"
    echo "  pair $i: velnor ${v% *} s (--no-statistics ${c% *} s)," \
      "GoAccess ${g% *} s"
  done
  local v_s g_s v_kb g_kb c_s
  v_s=$(cut -d' ' -f1 "$work/velnor.times" | median)
  c_s=$(cut -d' ' -f1 "$work/counts-only.times" | median)
  g_s=$(cut -d' ' -f1 "$work/goaccess.times" | median)
  v_kb=$(cut -d' ' -f2 "$work/velnor.times" | sort -g | tail -1)
  g_kb=$(cut -d' ' -f2 "$work/goaccess.times" | sort -g | tail -1)
  awk -v c="$1" -v r="$records" -v v="$v_s" -v g="$g_s" -v vk="$v_kb" \
    -v gk="$g_kb" -v n="$pairs" -v o="$c_s" 'BEGIN {
      printf "%-10s velnor, statistics on %6.2f s %9.0f records/s peak %4.0f MB (counts only %6.2f s %9.0f records/s) | GoAccess %6.2f s %9.0f records/s peak %4.0f MB | %.1fx with statistics, %.1fx counts only (target: at least 30x with statistics); medians of %d\n",
             c, v, r / v, vk / 1024, o, r / o, g, r / g, gk / 1024, g / v, g / o, n
    }' >>"$work/summary"
}

: >"$work/summary"
compare one-file 1
compare four-sites 4

# next_day: the nightly case's pairs and its line of figures.
next_day() {
  local n=$((2 * records)) i v g
  local files=("$work/next-day-$n"/SRV1/D\$/Logs/W3SVC*/u_ex240602.log)
  echo "next-day: $records records, 4 sites, into the rows of the day before"
  : >"$work/velnor.times"
  : >"$work/goaccess.times"
  for ((i = 1; i <= pairs; i++)); do
    CASE_RECORDS=$n collect next-day 4 "$work/db" >/dev/null
    v=$(CASE_RECORDS=$n KEEP_DB=1 FROM=2024-06-02 collect next-day 4 "$work/db")
    g=$(goaccess_once "${files[@]}")
    echo "$v" >>"$work/velnor.times"
    echo "$g" >>"$work/goaccess.times"
    echo "  pair $i: velnor ${v% *} s, GoAccess ${g% *} s"
  done
  local v_s g_s
  v_s=$(cut -d' ' -f1 "$work/velnor.times" | median)
  g_s=$(cut -d' ' -f1 "$work/goaccess.times" | median)
  awk -v r="$records" -v v="$v_s" -v g="$g_s" -v n="$pairs" 'BEGIN {
      printf "next-day   velnor, statistics on, into the day before %6.2f s %9.0f records/s | GoAccess %6.2f s %9.0f records/s | %.1fx; medians of %d\n",
             v, r / v, g, r / g, g / v, n
    }' >>"$work/summary"
}
next_day

m=$(CASE_RECORDS=$memory_records TO=2024-06-05 collect memory 1 "$work/db")
awk -v r="$memory_records" -v s="${m% *}" -v k="${m#* }" 'BEGIN {
  printf "memory     velnor, statistics on, %d records over 5 days: %.2f s, peak %.0f MB (target: at most 150 MB)\n", r, s, k / 1024
}' >>"$work/summary"

VELNOR=$velnor VELNOR_BENCH_DIR=$work \
  bench/fixed_cost.sh 1000 $((pairs < 7 ? pairs : 7)) >>"$work/summary"
cat "$work/summary"

# The same log counted record by record must leave the same rows.
echo "checking the rows against counting record by record ..."
collect four-sites 4 "$work/db" >/dev/null
collect four-sites 4 "$work/db-per-record" --tally per-record >/dev/null
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
