#!/usr/bin/env bash
# Collection speed of the central PostgreSQL store against the SQLite
# files: one collector into SQLite, one into PostgreSQL, and four
# collectors of four servers into PostgreSQL at once, each with fresh
# report databases, over a generated log folder (bench/make_iis_log.py).
# It starts a PostgreSQL server of its own (Debian's postgresql package)
# in a temporary folder on a free port of 127.0.0.1, with its default
# settings (fsync on), and stops it by its pid at the end.
#
#   bench/pg_bench.sh [VELNOR] [RECORDS]
#
# VELNOR defaults to build-bench/host/velnor (a Release build, see README),
# RECORDS to 1000000 per server.
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
for server in SRV2 SRV3 SRV4; do
  mkdir -p "$shares/$server/D\$/Logs"
  cp -r "$shares/SRV1/D\$/Logs/W3SVC1" "$shares/$server/D\$/Logs/"
done
common=(--from 2024-06-01 --to 2024-06-30 --share-root "$shares"
        --site "Bench,D:\\Logs,1" --no-tui)

# The records/s of a run's summary line.
rate() { grep -o '([0-9]* records/s)' "$1" | tr -dc '0-9'; }

mkdir -p "$work/sqlite"
"$velnor" collect --server SRV1 --db-dir "$work/sqlite" --create-db \
  "${common[@]}" 2>"$work/sqlite.out"
sqlite=$(rate "$work/sqlite.out")

for server in SRV1 SRV2 SRV3 SRV4; do
  "$velnor" init-db --db-url "$url" --server "$server" >/dev/null
done
"$velnor" collect --server SRV1 --db-url "$url" \
  --error-log "$work/pg1-errors.log" "${common[@]}" 2>"$work/pg1.out"
one=$(rate "$work/pg1.out")

# The four runs of the first test left counts in SRV1; four fresh servers.
for server in SRV1 SRV2 SRV3 SRV4; do
  psql -q -h 127.0.0.1 -p "$port" -U velnor -d velnor -c \
    "$(for k in dayofweek hitsbymonth hitsbyhour hitsbystatus; do
         echo "TRUNCATE qdx_uaweblog${k}_${server,,}.tblgeneral;"; done)
     TRUNCATE qdx_uawebloghitsbyhour_${server,,}.tbltotalaccess;"
done
# CPU seconds: of the whole machine (busy, from /proc/stat), and of the
# PostgreSQL server (its backends are reaped into the postmaster's counts).
machine_busy() { awk '/^cpu /{print ($2+$3+$4+$7+$8)/100}' /proc/stat; }
server_cpu() { awk '{print ($14+$15+$16+$17)/100}' "/proc/$pid/stat"; }
busy0=$(machine_busy); server0=$(server_cpu)
start=$(date +%s.%N)
pids=()
for server in SRV1 SRV2 SRV3 SRV4; do
  /usr/bin/time -f "%U %S" -o "$work/pg4-$server.cpu" \
    "$velnor" collect --server "$server" --db-url "$url" \
    --error-log "$work/pg4-errors.log" "${common[@]}" \
    2>"$work/pg4-$server.out" &
  pids+=($!)
done
for p in "${pids[@]}"; do wait "$p"; done
end=$(date +%s.%N)
busy=$(python3 -c "print($(machine_busy) - $busy0)")
server=$(python3 -c "print($(server_cpu) - $server0)")
collectors=$(cat "$work"/pg4-*.cpu | awk '{s += $1 + $2} END {print s}')
four=$(python3 -c "print(round(4 * $records / ($end - $start)))")

printf '%-44s %12s\n' "run ($records records per server)" "records/s"
printf '%-44s %12s\n' "1 collector, SQLite files" "$sqlite"
printf '%-44s %12s  (%.2f of SQLite)\n' "1 collector, PostgreSQL" "$one" \
  "$(python3 -c "print($one / $sqlite)")"
printf '%-44s %12s  (%.2f of one)\n' "4 collectors of 4 servers, PostgreSQL" \
  "$four" "$(python3 -c "print($four / $one)")"
python3 - "$start" "$end" "$busy" "$server" "$collectors" <<'PY'
import os, sys
start, end, busy, server, collectors = map(float, sys.argv[1:])
wall, cores = end - start, os.cpu_count()
print(f"  in {wall:.2f} s on {cores} cores ({cores * wall:.1f} CPU-s): "
      f"collectors {collectors:.1f} CPU-s, PostgreSQL {server:.1f}, "
      f"other work {max(0.0, busy - collectors - server):.1f}, "
      f"idle {max(0.0, cores * wall - busy):.1f}")
PY
