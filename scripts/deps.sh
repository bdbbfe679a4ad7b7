#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, and
# only those that are missing. Quiet when nothing is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libsqlite3-dev zlib1g-dev libncurses-dev libfmt-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  tmux sqlite3
  libsmbclient-dev samba smbclient
  libxml2-dev
  libpq-dev postgresql postgresql-contrib
  chromium
)

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
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
