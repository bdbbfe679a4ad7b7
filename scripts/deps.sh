#!/usr/bin/env bash
# Installs the Debian packages that are missing, showing apt's progress.
#   scripts/deps.sh          what building and running velnor needs
#   scripts/deps.sh --tests  that, and what the tests and benchmarks need
# Quiet when nothing is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libsqlite3-dev zlib1g-dev libncurses-dev libfmt-dev libcli11-dev
  libsmbclient-dev libxml2-dev libpq-dev nlohmann-json3-dev libutf8proc-dev
  libabsl-dev
)
if [[ ${1:-} == --tests ]]; then
  packages+=(
    libgtest-dev libgmock-dev libbenchmark-dev libpng-dev
    tmux sqlite3 samba smbclient chromium systemd strace
    man-db file dpkg-dev clang-format clang-tidy git
    postgresql postgresql-contrib
  )
elif [[ $# -gt 0 ]]; then
  echo "usage: scripts/deps.sh [--tests]" >&2
  exit 2
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "deps: installing ${missing[*]}" >&2
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# One line per package fetched, unpacked and set up.
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}" |
  { grep --line-buffered -E '^(Get:|Unpacking|Setting up)' || true; }
