#!/usr/bin/env bash
# The central PostgreSQL store's cost, beside the SQLite files, in one
# run of the script (records/s, the collector's own CPU time and the
# PostgreSQL server's):
# - a collection into SQLite files;
# - a collection into a new PostgreSQL store, with statistics (the default);
# - the same into another new store with --no-statistics (the counts alone);
# - a second collection into the first store, now holding rows: a later
#   month of the same URLs (the nightly case: most keys are stored and
#   raised, only the month's are new);
# - as the reference, the first collection's counting rows loaded with COPY
#   into plain tables of the same columns (text in the "C" collation,
#   integers) with one btree index on the lower-cased key.
# Each run's server CPU against the COPY's, and its records/s against the
# SQLite run's, side by side. The second collection produces as many rows
# (the same keys, July for June) as the first, so the same reference holds.
# The server's CPU is the postmaster's own and its reaped children's
# (/proc/PID/stat) plus its live children's, before and after each step.
# It starts a PostgreSQL server of its own (Debian's postgresql package)
# in a temporary folder on a free port of 127.0.0.1, with its default
# settings (fsync on), and stops it by its pid at the end.
#
#   bench/pg_bench.sh [VELNOR] [RECORDS]
#
# With PG_BENCH_STATEMENTS=1 the server loads pg_stat_statements and each
# PostgreSQL run is followed by its statements of most execution time (the
# extension costs the server some CPU of its own: use it to see where the
# time goes, not for the figures).
#
# VELNOR defaults to build-bench/host/velnor (a Release build, see README),
# RECORDS to 1000000.
set -euo pipefail
cd "$(dirname "$0")/.."
velnor=$(realpath "${1:-build-bench/host/velnor}")
records=${2:-1000000}
bin=/usr/lib/postgresql/15/bin
[[ -x $velnor ]] || { echo "pg_bench: build $velnor first" >&2; exit 2; }
[[ -x $bin/initdb ]] || { echo "pg_bench: $bin/initdb is missing: install postgresql" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "pg_bench: /usr/bin/time is missing: install Debian's time package" >&2; exit 2; }

work=$(mktemp -d /tmp/velnor-pg-bench-XXXXXX)
as_owner=()
if [[ $(id -u) -eq 0 ]]; then
  chown postgres "$work"
  as_owner=(runuser -u postgres --)
fi
pid=""
cleanup() {
  if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
    kill -INT "$pid"
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"${as_owner[@]}" "$bin/initdb" -D "$work/data" -U velnor -E SQL_ASCII \
  --locale=C --auth=trust >"$work/initdb.log" 2>&1
options="-p $port -k $work -c listen_addresses=127.0.0.1"
if [[ -n ${PG_BENCH_STATEMENTS:-} ]]; then
  options+=" -c shared_preload_libraries=pg_stat_statements"
  options+=" -c pg_stat_statements.track=all"
fi
"${as_owner[@]}" "$bin/pg_ctl" -D "$work/data" -l "$work/server.log" -w \
  -o "$options" start >/dev/null
pid=$(head -1 "$work/data/postmaster.pid")
for db in velnor counts; do
  psql -q -h 127.0.0.1 -p "$port" -U velnor -d postgres -c "CREATE DATABASE $db"
done
if [[ -n ${PG_BENCH_STATEMENTS:-} ]]; then
  psql -q -h 127.0.0.1 -p "$port" -U velnor -d postgres \
    -c "CREATE EXTENSION pg_stat_statements"
fi
url="postgresql://velnor@127.0.0.1:$port/velnor"
counts_url="postgresql://velnor@127.0.0.1:$port/counts"

shares="$work/shares"
mkdir -p "$shares"
python3 bench/make_iis_log.py "$shares/SRV1/D\$/Logs/W3SVC1" "$records"
python3 bench/make_iis_log.py "$shares/SRV1/D\$/Logs/W3SVC1" "$records" \
  --start 2024-07-01
common=(--share-root "$shares" --site "Bench,D:\\Logs,1" --no-tui)
june=(--from 2024-06-01 --to 2024-06-30)
july=(--from 2024-07-01 --to 2024-07-30)
sql() { psql -q -X -h 127.0.0.1 -p "$port" -U velnor -d velnor "$@"; }

# The records/s of a run's summary line.
rate() { grep -o '([0-9]* records/s)' "$1" | tr -dc '0-9'; }
# CPU seconds of the PostgreSQL server so far: the postmaster with its
# reaped children, and its children alive now.
server_cpu() {
  python3 - "$pid" <<'PY'
import os, sys
pid = sys.argv[1]
def fields(p):
    with open(f"/proc/{p}/stat") as f:
        return f.read().rsplit(")", 1)[1].split()
ticks = os.sysconf("SC_CLK_TCK")
own = fields(pid)
total = sum(int(x) for x in own[11:15])
for entry in os.listdir("/proc"):
    if entry.isdigit() and entry != pid:
        try:
            f = fields(entry)
        except OSError:
            continue
        if f[1] == pid:
            total += int(f[11]) + int(f[12])
print(total / ticks)
PY
}
delta() { python3 -c "print(round($2 - $1, 2))"; }

mkdir -p "$work/sqlite"
"$velnor" collect --server SRV1 --db-dir "$work/sqlite" --create-db \
  "${june[@]}" "${common[@]}" 2>"$work/sqlite.out"
sqlite=$(rate "$work/sqlite.out")

# pg_run NAME URL ARGS...: a collection of SRV1 into URL; its records/s,
# server CPU-s and collector CPU-s in $work/NAME.figures.
pg_run() {
  local name=$1 db=$2
  shift 2
  local before
  statements -c "SELECT pg_stat_statements_reset()" >/dev/null
  before=$(server_cpu)
  /usr/bin/time -f "%U %S" -o "$work/$name.cpu" \
    "$velnor" collect --server SRV1 --db-url "$db" \
    --error-log "$work/$name-errors.log" "$@" "${common[@]}" 2>"$work/$name.out"
  echo "$(rate "$work/$name.out") $(delta "$before" "$(server_cpu)")" \
    "$(awk '{print $1 + $2}' "$work/$name.cpu")" >"$work/$name.figures"
  statements -c "SELECT round(total_exec_time)::int AS ms, calls, rows,
    left(regexp_replace(query, '\\s+', ' ', 'g'), 110) AS statement
    FROM pg_stat_statements ORDER BY total_exec_time DESC LIMIT 12" \
    >"$work/$name.statements"
}
# psql against the statement statistics, when they are kept.
statements() {
  [[ -n ${PG_BENCH_STATEMENTS:-} ]] || return 0
  psql -q -X -h 127.0.0.1 -p "$port" -U velnor -d postgres "$@"
}

"$velnor" init-db --db-url "$url" --server SRV1 >/dev/null
"$velnor" init-db --db-url "$counts_url" --server SRV1 >/dev/null
pg_run stats "$url" "${june[@]}"
pg_run counts "$counts_url" "${june[@]}" --no-statistics
pg_run second "$url" "${july[@]}"

# The reference: the first run's rows, copied out and into plain tables.
sql -c "CREATE SCHEMA ref"
tables=()
for k in dayofweek hitsbymonth hitsbyhour hitsbystatus; do
  schema=qdx_uaweblog${k}_srv1
  columns=$(sql -d counts -At -c "SELECT string_agg(quote_ident(column_name) || CASE
      WHEN data_type = 'integer' THEN ' integer' ELSE ' text COLLATE \"C\"' END,
      ', ' ORDER BY ordinal_position) FROM information_schema.columns
      WHERE table_schema = '$schema' AND table_name = 'tblgeneral'
      AND column_name <> 'rowid'")
  names=$(sql -d counts -At -c "SELECT string_agg(quote_ident(column_name), ', '
      ORDER BY ordinal_position) FROM information_schema.columns
      WHERE table_schema = '$schema' AND table_name = 'tblgeneral'
      AND column_name <> 'rowid'")
  sql -c "CREATE TABLE ref.$k ($columns)" \
      -c "CREATE INDEX ON ref.$k (lower(url), identifier)"
  sql -d counts -c "\\copy (SELECT $names FROM $schema.tblgeneral ORDER BY rowid) TO '$work/$k.rows'"
  tables+=("$k")
done
server0=$(server_cpu)
for k in "${tables[@]}"; do
  sql -c "\\copy ref.$k FROM '$work/$k.rows'"
done
copy_server=$(delta "$server0" "$(server_cpu)")

python3 - "$records" "$sqlite" "$copy_server" "$work" <<'PY'
import sys
records, sqlite, copy, work = sys.argv[1:]
sqlite, copy = float(sqlite), float(copy)
runs = [("PostgreSQL, new store, statistics", "stats"),
        ("PostgreSQL, new store, --no-statistics", "counts"),
        ("PostgreSQL, second month, statistics", "second")]
row = "{:<42} {:>10} {:>9} {:>11} {:>11} {:>12}"
print(row.format(f"run ({records} records)", "records/s", "server", "collector",
                 "server /", "records/s /"))
print(row.format("", "", "CPU-s", "CPU-s", "COPY", "SQLite"))
print(row.format("SQLite files", int(sqlite), "-", "-", "-", "1.00"))
for label, name in runs:
    rate, server, collector = open(f"{work}/{name}.figures").read().split()
    print(row.format(label, rate, server, collector,
                     f"{float(server) / copy:.2f}x",
                     f"{float(rate) / sqlite:.2f}"))
print(row.format("COPY of the first run's rows, plain tables", "-", f"{copy:.2f}",
                 "-", "1.00x", "-"))
PY
if [[ -n ${PG_BENCH_STATEMENTS:-} ]]; then
  for name in stats counts second; do
    echo; echo "statements of the run '$name', most execution time first:"
    cat "$work/$name.statements"
  done
fi
