#!/usr/bin/env bash
# The central PostgreSQL store's cost, beside the SQLite files: one
# collector into SQLite files, one into PostgreSQL (records/s, the
# collector's own CPU time and the PostgreSQL server's), and as the
# reference the same rows loaded with COPY into plain tables of the same
# columns (text in the "C" collation, integers) with one btree index on
# the lower-cased key: the server's CPU for a run against its CPU for a
# COPY, and the run's records/s against SQLite's, side by side.
# The server's CPU is the postmaster's own and its reaped children's
# (/proc/PID/stat) plus its live children's, before and after each step.
# It starts a PostgreSQL server of its own (Debian's postgresql package)
# in a temporary folder on a free port of 127.0.0.1, with its default
# settings (fsync on), and stops it by its pid at the end.
#
#   bench/pg_bench.sh [VELNOR] [RECORDS]
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
"${as_owner[@]}" "$bin/pg_ctl" -D "$work/data" -l "$work/server.log" -w \
  -o "-p $port -k $work -c listen_addresses=127.0.0.1" start >/dev/null
pid=$(head -1 "$work/data/postmaster.pid")
psql -q -h 127.0.0.1 -p "$port" -U velnor -d postgres -c "CREATE DATABASE velnor"
url="postgresql://velnor@127.0.0.1:$port/velnor"

shares="$work/shares"
mkdir -p "$shares"
python3 bench/make_iis_log.py "$shares/SRV1/D\$/Logs/W3SVC1" "$records"
common=(--from 2024-06-01 --to 2024-06-30 --share-root "$shares"
        --site "Bench,D:\\Logs,1" --no-tui)
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
  "${common[@]}" 2>"$work/sqlite.out"
sqlite=$(rate "$work/sqlite.out")

"$velnor" init-db --db-url "$url" --server SRV1 >/dev/null
server0=$(server_cpu)
/usr/bin/time -f "%U %S" -o "$work/pg.cpu" \
  "$velnor" collect --server SRV1 --db-url "$url" \
  --error-log "$work/pg-errors.log" "${common[@]}" 2>"$work/pg.out"
run_server=$(delta "$server0" "$(server_cpu)")
run_collector=$(awk '{print $1 + $2}' "$work/pg.cpu")
pg=$(rate "$work/pg.out")

# The reference: the run's rows, copied out and into plain tables.
sql -c "CREATE SCHEMA ref"
tables=()
for k in dayofweek hitsbymonth hitsbyhour hitsbystatus; do
  schema=qdx_uaweblog${k}_srv1
  columns=$(sql -At -c "SELECT string_agg(quote_ident(column_name) || CASE
      WHEN data_type = 'integer' THEN ' integer' ELSE ' text COLLATE \"C\"' END,
      ', ' ORDER BY ordinal_position) FROM information_schema.columns
      WHERE table_schema = '$schema' AND table_name = 'tblgeneral'
      AND column_name <> 'rowid'")
  names=$(sql -At -c "SELECT string_agg(quote_ident(column_name), ', '
      ORDER BY ordinal_position) FROM information_schema.columns
      WHERE table_schema = '$schema' AND table_name = 'tblgeneral'
      AND column_name <> 'rowid'")
  sql -c "CREATE TABLE ref.$k ($columns)" \
      -c "CREATE INDEX ON ref.$k (lower(url), identifier)"
  sql -c "\\copy (SELECT $names FROM $schema.tblgeneral ORDER BY rowid) TO '$work/$k.rows'"
  tables+=("$k")
done
server0=$(server_cpu)
for k in "${tables[@]}"; do
  sql -c "\\copy ref.$k FROM '$work/$k.rows'"
done
copy_server=$(delta "$server0" "$(server_cpu)")

printf '%-40s %12s %14s %14s\n' "run ($records records)" "records/s" \
  "server CPU-s" "collector CPU-s"
printf '%-40s %12s %14s %14s\n' "SQLite files" "$sqlite" "-" "-"
printf '%-40s %12s %14s %14s\n' "PostgreSQL" "$pg" "$run_server" \
  "$run_collector"
printf '%-40s %12s %14s %14s\n' "COPY of the same rows, plain tables" "-" \
  "$copy_server" "-"
python3 - "$pg" "$sqlite" "$run_server" "$copy_server" "$run_collector" <<'PY'
import sys
pg, sqlite, run, copy, collector = map(float, sys.argv[1:])
print(f"server CPU, run / COPY:          {run / copy:.2f}x")
print(f"server CPU / collector CPU:      {run / collector:.2f}x")
print(f"records/s, PostgreSQL / SQLite:  {pg / sqlite:.2f}")
PY
