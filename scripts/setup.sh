#!/usr/bin/env bash
# Installs what building and testing fogswitch needs on Debian, only what is missing.
# Usage: scripts/setup.sh [native|all]   (all adds the Windows cross compiler and Wine)
set -euo pipefail

packages=(cmake g++ make libgtest-dev libgmock-dev python3 python3-pexpect e2fsprogs util-linux)
if [[ "${1:-native}" == all ]]; then
  packages+=(g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 wine64)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
