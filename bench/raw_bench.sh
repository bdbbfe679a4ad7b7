#!/usr/bin/env bash
# Raw listings as a user runs them, on a Release build: `velnor collect --raw
# --format csv --output FILE --no-tui` over a generated IIS web log of 1 M
# and of 5 M records, with the records per second and the peak memory of
# each run beside the figures measured before the listing streamed; then the
# cost of the terminal dialog: the same 1 M run in a real terminal (tmux)
# against --no-tui.
#
#   bench/raw_bench.sh [runs]     # each figure is the best of `runs` (3)
#
# The logs (140 MB and 700 MB) are made once in $VELNOR_BENCH_DIR
# (default /tmp/velnor-raw-bench) and kept for the next time. The Release
# build goes to build-bench, or to $VELNOR_BENCH_BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
scripts/deps.sh
build=${VELNOR_BENCH_BUILD:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELNOR_TESTS=OFF \
  -DVELNOR_BENCH=ON >/dev/null
cmake --build "$build" --target velnor -j "$(nproc)" >/dev/null
velnor=$PWD/$build/host/velnor
work=${VELNOR_BENCH_DIR:-/tmp/velnor-raw-bench}
mkdir -p "$work"
cd "$work"

# A month of typical web records: every hour, a few thousand URLs, ten
# status codes, the fields IIS logs by default.
make_log() {  # records share-root
  local log="$2/WEB01/D\$/Logs/W3SVC1/u_ex2406.log"
  [[ -s "$log" ]] && return
  mkdir -p "$(dirname "$log")"
  awk -v n="$1" 'BEGIN {
    srand(42)
    printf "#Software: Microsoft Internet Information Services 10.0\r\n"
    printf "#Version: 1.0\r\n#Date: 2024-06-01 00:00:00\r\n"
    printf "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query s-port "
    printf "cs-username c-ip cs(User-Agent) sc-status sc-substatus "
    printf "sc-win32-status time-taken\r\n"
    split("200 200 200 200 304 404 500 401 302 403", status, " ")
    for (i = 0; i < n; i++) {
      printf "2024-06-%02d %02d:%02d:%02d 10.0.0.5 GET " \
             "/site/section%d/page%d.htm q=%d 80 - 192.168.%d.%d " \
             "Mozilla/5.0+(Windows+NT+10.0;+Win64;+x64) %s 0 0 %d\r\n",
             1 + int(i * 30 / n), int(rand() * 24), int(rand() * 60),
             int(rand() * 60), int(rand() * 30), int(rand() * 100),
             int(rand() * 1000), int(rand() * 255), int(rand() * 255),
             status[1 + int(rand() * 10)], int(rand() * 2000)
    }
  }' >"$log"
}

# The listing of one month's web records of site 1.
collect_args() {  # share-root
  args=(collect --server WEB01 --from 2024-06-01 --to 2024-06-30 --db-dir db
        --share-root "$1" --site 'Main,D:\Logs,1' --raw --format csv
        --output listing.csv)
}

# The seconds a run's summary gives for the run itself.
run_seconds() {  # summary-file
  sed -n 's/.* records in \([0-9.]*\) s .*/\1/p' "$1"
}

# One --no-tui run: prints "seconds peak-kB".
plain_run() {  # share-root
  collect_args "$1"
  /usr/bin/time -o time.txt -f '%M' "$velnor" "${args[@]}" --no-tui \
    2>summary.txt
  echo "$(run_seconds summary.txt) $(cat time.txt)"
}

# The same run in a terminal (tmux, 120x40): prints its seconds.
dialog_run() {  # share-root
  collect_args "$1"
  rm -f done.txt
  { printf 'cd %q && TERM=xterm-256color ' "$work"
    printf '%q ' "$velnor" "${args[@]}"
    printf '; tmux -L velnor-raw-bench capture-pane -p >screen.txt; '
    printf 'echo done >done.txt; sleep 600\n'; } >dialog.sh
  tmux -L velnor-raw-bench new-session -d -x 120 -y 40 "bash dialog.sh"
  while [[ ! -s done.txt ]]; do sleep 0.2; done
  tmux -L velnor-raw-bench kill-server
  run_seconds screen.txt
}

min() { sort -g | head -1; }

rm -rf db && mkdir db
"$velnor" init-db --db-dir db --server WEB01 >/dev/null
printf '%-30s %16s %16s %14s %14s\n' "raw listing to CSV" "records/s" \
  "before" "peak memory" "before"
for records in 1000000 5000000; do
  root="r$records"
  make_log "$records" "$root"
  best_seconds=""
  best_kb=""
  for ((i = 0; i < runs; i++)); do
    read -r seconds kb < <(plain_run "$root")
    best_seconds=$(printf '%s\n%s\n' "$seconds" "${best_seconds:-$seconds}" | min)
    best_kb=$(printf '%s\n%s\n' "$kb" "${best_kb:-$kb}" | min)
  done
  [[ $(wc -l <listing.csv) -eq $((records + 1)) ]] ||
    { echo "listing of $records records is incomplete" >&2; exit 1; }
  before_rate="345,000"
  before_memory="377 MiB"
  [[ $records -eq 5000000 ]] && before_rate="-" && before_memory="1.8 GiB"
  printf '%-30s %16.0f %16s %10.1f MiB %14s\n' "$((records / 1000000)) M records" \
    "$(awk -v r="$records" -v s="$best_seconds" 'BEGIN { print r / s }')" \
    "$before_rate" "$(awk -v k="$best_kb" 'BEGIN { print k / 1024 }')" \
    "$before_memory"
done

if ! command -v tmux >/dev/null; then
  echo "no tmux: the dialog's cost is not measured" >&2
  exit 0
fi
plain=""
dialog=""
for ((i = 0; i < runs; i++)); do
  read -r seconds _ < <(plain_run r1000000)
  plain=$(printf '%s\n%s\n' "$seconds" "${plain:-$seconds}" | min)
  seconds=$(dialog_run r1000000)
  dialog=$(printf '%s\n%s\n' "$seconds" "${dialog:-$seconds}" | min)
done
printf '\nthe dialog, 1 M records to CSV: %.2f s in the terminal, %.2f s with ' \
  "$dialog" "$plain"
printf -- '--no-tui (%+.1f%%; target: within 10%%)\n' \
  "$(awk -v d="$dialog" -v p="$plain" 'BEGIN { print (d - p) * 100 / p }')"
