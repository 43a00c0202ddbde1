#!/usr/bin/env bash
# Installs what building and testing fogswitch needs on Debian, only what is missing, with apt as
# root or through sudo. Prints a line or two; apt's own output goes to a log file, whose tail is
# shown only when the install fails.
# Usage: scripts/setup.sh [native|all]   (all adds the Windows cross compiler and Wine)
set -euo pipefail

# e2fsprogs: chattr; util-linux: unshare and mount, for the tests' refusals and full disks.
packages=(cmake g++ make libgtest-dev libgmock-dev python3 python3-pexpect e2fsprogs util-linux)
if [[ "${1:-native}" == all ]]; then
  # x86_64: the 64-bit build that Wine runs where no 32-bit program starts.
  packages+=(g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine wine32:i386 wine64)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
log=$(mktemp "${TMPDIR:-/tmp}/fogswitch-setup.XXXXXX.log")
echo "Installing with apt: ${missing[*]}"
if {
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  "${sudo[@]}" apt-get update
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
} >"$log" 2>&1 </dev/null; then
  echo "Installed ${#missing[@]} packages (apt's output: $log)."
else
  tail -n 30 "$log" >&2
  echo "Installing failed; apt's whole output is in $log." >&2
  exit 1
fi
