#!/usr/bin/env bash
# Times an aggregate `velnor collect` of one log file over SMB against the
# file's transfer alone and against the same collect through a share root,
# side by side in one run: reading ahead must hide the transfer under the
# counting, so the SMB run should take at most 1.10x the longer of the two.
#
#   bench/smb_bench.sh [RECORDS] [ROUNDS]
#
# RECORDS (default 1000000) records of one day in one file
# (bench/make_iis_log.py, kept in $VELNOR_BENCH_DIR, default
# /tmp/velnor-bench) are served by a Samba server this script starts on
# 127.0.0.1 (as root: smbd serves the files as the user it maps). Each of
# ROUNDS (default 3) rounds times `smbclient get` of the file, velnor
# through the share root and velnor over SMB (fresh databases, --no-tui);
# the medians are compared.
set -euo pipefail
cd "$(dirname "$0")/.."
records=${1:-1000000}
rounds=${2:-3}
work=${VELNOR_BENCH_DIR:-/tmp/velnor-bench}
[[ $(id -u) -eq 0 ]] || { echo "smb_bench.sh: run it as root (smbd)" >&2; exit 2; }

need=()
command -v smbd >/dev/null || need+=(samba)
command -v smbclient >/dev/null || need+=(smbclient)
[[ -x /usr/bin/time ]] || need+=(time)
if [[ ${#need[@]} -gt 0 ]]; then
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

scripts/deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVELNOR_TESTS=OFF \
  >/dev/null
cmake --build build-release --target velnor -j "$(nproc)" >/dev/null
velnor=$PWD/build-release/host/velnor

# The server's drive D: one file, and a share root that maps the same files.
dir=$work/smb-$records
logs=$dir/share/D/Logs/W3SVC1
log=$logs/u_ex240601.log
if [[ ! -f $log ]]; then
  rm -rf "$dir"
  python3 bench/make_iis_log.py "$logs" "$records" --days 1
fi
mkdir -p "$dir/root/127.0.0.1"
ln -sfn "$dir/share/D" "$dir/root/127.0.0.1/D\$"
size=$(du -m "$log" | cut -f1)

# smbd with all its state in $dir/smbd, on a free port of 127.0.0.1.
state=$dir/smbd
rm -rf "$state"
mkdir -p "$state"/{private,lock,state,cache,pid,log,ncalrpc}
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
user=$(id -un)
cat >"$state/smb.conf" <<EOF
[global]
  server role = standalone server
  workgroup = VBENCH
  passdb backend = tdbsam:$state/private/passdb.tdb
  private dir = $state/private
  lock directory = $state/lock
  state directory = $state/state
  cache directory = $state/cache
  pid directory = $state/pid
  ncalrpc dir = $state/ncalrpc
  log file = $state/log/log.%m
  smb ports = $port
  interfaces = 127.0.0.1
  bind interfaces only = yes
  disable netbios = yes
  load printers = no
  printcap name = /dev/null
  disable spoolss = yes
  map to guest = never
[D\$]
  path = $dir/share/D
  read only = yes
EOF
password=Velnor-Bench-1
printf '%s\n%s\n' "$password" "$password" |
  smbpasswd -c "$state/smb.conf" -a -s "$user" >/dev/null
printf 'username = %s\npassword = %s\ndomain = VBENCH\n' "$user" "$password" \
  >"$state/auth"
chmod 600 "$state/auth"
setsid smbd --foreground --no-process-group -s "$state/smb.conf" \
  >"$state/smbd.out" 2>&1 &
smbd_pid=$!
# smbd's children are in its own session, which this script started.
trap 'kill -- -"$smbd_pid" 2>/dev/null || true' EXIT
for ((i = 0; i < 100; i++)); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

seconds() { date +%s.%N; }

# Prints the wall time of one smbclient get of the file.
transfer() {
  local start end
  start=$(seconds)
  smbclient "//127.0.0.1/D\$" -p "$port" -A "$state/auth" \
    -c 'get Logs\W3SVC1\u_ex240601.log /dev/null' >/dev/null 2>&1
  end=$(seconds)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

# Prints the wall time of one velnor collect into fresh databases, with
# the further arguments that say how the share is reached.
collect() {
  local db=$work/smb-db start end
  rm -rf "$db"
  mkdir -p "$db"
  start=$(seconds)
  "$velnor" collect --server 127.0.0.1 --from 2024-06-01 --to 2024-06-01 \
    --db-dir "$db" --create-db --site "Site,D:\\Logs,1" --no-tui "$@" \
    >/dev/null 2>"$work/smb-collect.err" ||
    { cat "$work/smb-collect.err" >&2; exit 1; }
  end=$(seconds)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

echo "log: $records records in one file of $size MB, served by smbd on 127.0.0.1:$port"
: >"$work/smb.get"
: >"$work/smb.local"
: >"$work/smb.smb"
for ((i = 1; i <= rounds; i++)); do
  g=$(transfer)
  l=$(collect --share-root "$dir/root")
  s=$(collect --smb-auth "$state/auth" --smb-port "$port")
  echo "$g" >>"$work/smb.get"
  echo "$l" >>"$work/smb.local"
  echo "$s" >>"$work/smb.smb"
  echo "round $i: smbclient get $g s, velnor share root $l s, velnor SMB $s s"
done
awk -v g="$(median <"$work/smb.get")" -v l="$(median <"$work/smb.local")" \
  -v s="$(median <"$work/smb.smb")" -v n="$rounds" 'BEGIN {
    longer = g > l ? g : l
    printf "medians of %d: smbclient get %.2f s, share root %.2f s, SMB %.2f s\n",
           n, g, l, s
    printf "SMB / longer of transfer and share root: %.2fx (target: at most 1.10x)\n",
           s / longer
  }'
