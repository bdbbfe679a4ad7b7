#!/usr/bin/env bash
# Builds velnor and runs the demo: collects the bundled example logs of two
# servers (examples/shares, laid out like their administrative shares) into
# fresh SQLite report databases under out/demo, then writes HTML reports.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
echo "== building velnor (a few minutes the first time)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVELNOR_TESTS=OFF \
  -DVELNOR_BENCH=OFF >/dev/null
# Make's own "[ 40%] Building ..." lines are the progress.
cmake --build build --target velnor -j "$(nproc)"
velnor=build/host/velnor

db=out/demo
rm -rf "$db"
mkdir -p "$db"
# The example logs are of June 2024, long finished; a fresh checkout dates
# them now, and a log changed minutes ago may still be written, so its days
# would be counted in part only.
find examples/shares -type f -name '*.log' -exec touch -d '2024-06-06 00:00 UTC' {} +
common=(--from 2024-06-03 --to 2024-06-05 --db-dir "$db" --create-db
        --share-root examples/shares --windows-dirs examples/windows-dirs.txt)

echo "== WEB01: two web sites"
"$velnor" collect --server WEB01 --sites examples/web01-sites.txt "${common[@]}"
echo "== FTP01: one FTP site"
"$velnor" collect --server FTP01 --ftp --sites examples/ftp01-sites.txt \
  "${common[@]}"

"$velnor" report --db-dir "$db" --server WEB01 --format html \
  --output "$db/WEB01-web.html"
"$velnor" report --db-dir "$db" --server FTP01 --ftp --format html \
  --output "$db/FTP01-ftp.html"
echo
echo "Reports: $PWD/$db/WEB01-web.html"
echo "         $PWD/$db/FTP01-ftp.html"
echo "In the terminal: $velnor report --db-dir $db --server WEB01"
