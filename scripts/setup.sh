#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and demo. Quick when all of
# them are there already. With --bench it also installs the peers the benchmarks compare with.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  qt6-base-dev libgl-dev
  libzip-dev libexpat1-dev libgsf-1-dev libpcre2-dev nettle-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  python3 python3-xlsxwriter python3-openpyxl
  xvfb xauth
)
if [[ "${1:-}" == "--bench" ]]; then
  packages+=(libreoffice-calc-nogui gnumeric xlsx2csv python3-csvkit csvkit nodejs npm time hyperfine)
  # LibreOffice driven from Python: the .xls fixture script saves encrypted workbooks with it.
  packages+=(python3-uno)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo=""
if [[ $(id -u) != 0 ]]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}" >&2
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
