#!/usr/bin/env bash
# The central PostgreSQL store's cost, beside the SQLite files (records/s,
# the collector's own CPU time and the PostgreSQL server's). Each
# repetition makes new databases and runs, in order:
# - collections into new SQLite files, with statistics (the default) and
#   with --no-statistics, and a second collection into the first files: a
#   later month of the same URLs (the nightly case: most keys are stored
#   and raised, only the month's are new);
# - the same three into PostgreSQL: a new store with statistics, another
#   new store with --no-statistics, the later month into the first store;
# - as the reference, the first collection's counting rows loaded with COPY
#   into plain tables of the report's columns (text in the "C" collation,
#   integers; not our row identity or folded key) with one btree index on
#   the lower-cased key.
# Each PostgreSQL run's server CPU is set against the COPY's, and its
# records/s against the same collection's into SQLite files; the table
# shows each figure's median over the repetitions, with the lowest and
# highest ratio. The second collection produces as many rows (the same
# keys, July for June) as the first, so the same reference holds.
# A checkpoint before each PostgreSQL step starts it with no dirty pages
# left by the step before (whose writing would land on it) and with the
# full-page images a nightly run writes after the server's own periodic
# checkpoint. Autovacuum is off: its passes over the tables of earlier
# steps would land on whichever step runs at the time.
# The server's CPU is the postmaster's own and its reaped children's
# (/proc/PID/stat) plus its live children's, before and after each step.
# It starts a PostgreSQL server of its own (Debian's postgresql package)
# in a temporary folder on a free port of 127.0.0.1, with its default
# settings but for autovacuum (fsync on), and stops it by its pid at the
# end.
#
#   bench/pg_bench.sh [VELNOR] [RECORDS] [REPETITIONS]
#
# With PG_BENCH_STATEMENTS=1 the server loads pg_stat_statements and the
# first repetition's PostgreSQL runs are followed by their statements of
# most execution time (the extension costs the server some CPU of its own:
# use it to see where the time goes, not for the figures).
#
# VELNOR defaults to build-bench/host/velnor (a Release build, see README),
# RECORDS to 1000000, REPETITIONS to 3.
set -euo pipefail
cd "$(dirname "$0")/.."
velnor=$(realpath "${1:-build-bench/host/velnor}")
records=${2:-1000000}
repetitions=${3:-3}
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
options="-p $port -k $work -c listen_addresses=127.0.0.1 -c autovacuum=off"
if [[ -n ${PG_BENCH_STATEMENTS:-} ]]; then
  options+=" -c shared_preload_libraries=pg_stat_statements"
  options+=" -c pg_stat_statements.track=all"
fi
"${as_owner[@]}" "$bin/pg_ctl" -D "$work/data" -l "$work/server.log" -w \
  -o "$options" start >/dev/null
pid=$(head -1 "$work/data/postmaster.pid")
if [[ -n ${PG_BENCH_STATEMENTS:-} ]]; then
  psql -q -h 127.0.0.1 -p "$port" -U velnor -d postgres \
    -c "CREATE EXTENSION pg_stat_statements"
fi
base_url="postgresql://velnor@127.0.0.1:$port"

shares="$work/shares"
mkdir -p "$shares"
python3 bench/make_iis_log.py "$shares/SRV1/D\$/Logs/W3SVC1" "$records"
python3 bench/make_iis_log.py "$shares/SRV1/D\$/Logs/W3SVC1" "$records" \
  --start 2024-07-01
common=(--share-root "$shares" --site "Bench,D:\\Logs,1" --no-tui)
june=(--from 2024-06-01 --to 2024-06-30)
july=(--from 2024-07-01 --to 2024-07-30)
sql() { psql -q -X -h 127.0.0.1 -p "$port" -U velnor "$@"; }

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
delta() { python3 -c "print(round($2 - $1, 3))"; }
checkpoint() { sql -d postgres -c CHECKPOINT; }

# sqlite_run NAME DIR ARGS...: a collection of SRV1 into the files of DIR;
# its records/s in $work/NAME.figures.
sqlite_run() {
  local name=$1 dir=$2
  shift 2
  mkdir -p "$dir"
  "$velnor" collect --server SRV1 --db-dir "$dir" --create-db \
    --error-log "$work/$name-errors.log" "$@" "${common[@]}" 2>"$work/$name.out"
  rate "$work/$name.out" >"$work/$name.figures"
}

# pg_run NAME URL ARGS...: a collection of SRV1 into URL; its records/s,
# server CPU-s and collector CPU-s in $work/NAME.figures.
pg_run() {
  local name=$1 db=$2
  shift 2
  local before
  checkpoint
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

# The reference's tables, made in database $1 after the columns of the
# report schemas of database $2: "CREATE TABLE" statements in
# $work/ref.tables, each report's first-collection rows in $work/KIND.rows.
kinds=(dayofweek hitsbymonth hitsbyhour hitsbystatus)
reference_rows() {
  local from=$1
  : >"$work/ref.tables"
  for k in "${kinds[@]}"; do
    local schema=qdx_uaweblog${k}_srv1 columns names
    columns=$(sql -d "$from" -At -c "SELECT string_agg(quote_ident(column_name) || CASE
        WHEN data_type = 'integer' THEN ' integer' ELSE ' text COLLATE \"C\"' END,
        ', ' ORDER BY ordinal_position) FROM information_schema.columns
        WHERE table_schema = '$schema' AND table_name = 'tblgeneral'
        AND column_name NOT IN ('rowid', 'velnor_key')")
    names=$(sql -d "$from" -At -c "SELECT string_agg(quote_ident(column_name), ', '
        ORDER BY ordinal_position) FROM information_schema.columns
        WHERE table_schema = '$schema' AND table_name = 'tblgeneral'
        AND column_name NOT IN ('rowid', 'velnor_key')")
    echo "CREATE TABLE ref.$k ($columns); CREATE INDEX ON ref.$k (lower(url), identifier);" \
      >>"$work/ref.tables"
    sql -d "$from" -c "\\copy (SELECT $names FROM $schema.tblgeneral ORDER BY rowid) TO '$work/$k.rows'"
  done
}
# copy_run NAME DB: the reference loaded into new tables of DB; the
# server's CPU-s in $work/NAME.figures.
copy_run() {
  local name=$1 db=$2 before
  sql -d "$db" -c "CREATE SCHEMA ref" -f "$work/ref.tables"
  checkpoint
  before=$(server_cpu)
  for k in "${kinds[@]}"; do
    sql -d "$db" -c "\\copy ref.$k FROM '$work/$k.rows'"
  done
  delta "$before" "$(server_cpu)" >"$work/$name.figures"
}

for r in $(seq "$repetitions"); do
  sqlite_run "sqlite$r" "$work/sqlite$r" "${june[@]}"
  sqlite_run "sqlite-counts$r" "$work/sqlite-counts$r" "${june[@]}" --no-statistics
  sqlite_run "sqlite-second$r" "$work/sqlite$r" "${july[@]}"
  for db in "velnor$r" "counts$r"; do
    sql -d postgres -c "CREATE DATABASE $db"
    "$velnor" init-db --db-url "$base_url/$db" --server SRV1 >/dev/null
  done
  pg_run "stats$r" "$base_url/velnor$r" "${june[@]}"
  pg_run "counts$r" "$base_url/counts$r" "${june[@]}" --no-statistics
  pg_run "second$r" "$base_url/velnor$r" "${july[@]}"
  [[ -s $work/ref.tables ]] || reference_rows "counts$r"
  copy_run "copy$r" "counts$r"
done

python3 - "$records" "$repetitions" "$work" <<'PY'
import statistics, sys
records, repetitions, work = sys.argv[1], int(sys.argv[2]), sys.argv[3]
def figures(name, r):
    return [float(x) for x in open(f"{work}/{name}{r}.figures").read().split()]
runs = [("new store, statistics", "stats", "sqlite"),
        ("new store, --no-statistics", "counts", "sqlite-counts"),
        ("second month, statistics", "second", "sqlite-second")]
reps = range(1, repetitions + 1)
median = statistics.median
def span(values, fmt):
    return f"{fmt.format(median(values))} ({fmt.format(min(values))}-{fmt.format(max(values))})"
row = "{:<28} {:>10} {:>10} {:>7} {:>9} {:>21} {:>19}"
print(f"{records} records, {repetitions} repetitions: medians, the ratios' lowest-highest in brackets")
print(row.format("run", "SQLite", "PostgreSQL", "server", "collector", "server / COPY", "records/s / SQLite"))
print(row.format("", "records/s", "records/s", "CPU-s", "CPU-s", "(at most 1.5x)", "(at least 0.75)"))
for label, pg, lite in runs:
    pgf = [figures(pg, r) for r in reps]
    lites = [figures(lite, r)[0] for r in reps]
    copies = [figures("copy", r)[0] for r in reps]
    print(row.format(label, int(median(lites)), int(median(f[0] for f in pgf)),
                     f"{median(f[1] for f in pgf):.2f}", f"{median(f[2] for f in pgf):.2f}",
                     span([f[1] / c for f, c in zip(pgf, copies)], "{:.2f}x"),
                     span([f[0] / l for f, l in zip(pgf, lites)], "{:.2f}")))
print(row.format("COPY of the reference rows", "-", "-",
                 f"{median(figures('copy', r)[0] for r in reps):.2f}", "-", "1.00x", "-"))
print("each repetition, server / COPY and records/s / SQLite:")
for label, pg, lite in runs:
    each = []
    for r in reps:
        f, copy, sqlite = figures(pg, r), figures("copy", r)[0], figures(lite, r)[0]
        each.append(f"{f[1]:.2f}/{copy:.2f} = {f[1] / copy:.2f}x, {f[0] / sqlite:.2f}")
    print(f"  {label:<26} " + "; ".join(each))
PY
if [[ -n ${PG_BENCH_STATEMENTS:-} ]]; then
  for name in stats counts second; do
    echo; echo "statements of the first repetition's run '$name', most execution time first:"
    cat "$work/${name}1.statements"
  done
fi
