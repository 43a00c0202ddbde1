#!/usr/bin/env bash
# Installs what building and testing fogswitch needs on Debian, only what is missing, with apt as
# root or through sudo. Prints a line or two; apt's own output goes to a log file, whose tail is
# shown only when the install fails.
# Usage: scripts/setup.sh [native|all]   (all adds the Windows cross compiler and Wine, and where
#                                         the machine runs no 32-bit program, qemu-user)
set -euo pipefail

# e2fsprogs: chattr; util-linux: unshare and mount, for the tests' refusals and full disks.
packages=(cmake g++ make libgtest-dev libgmock-dev python3 python3-pexpect e2fsprogs util-linux)
if [[ "${1:-native}" == all ]]; then
  packages+=(g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 wine64)
fi

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
log=""
# Runs a step of the install with its output in the log; a failing one shows the log's tail.
quietly() {
  [[ -n $log ]] || log=$(mktemp "${TMPDIR:-/tmp}/fogswitch-setup.XXXXXX.log")
  if ! "$@" >>"$log" 2>&1 </dev/null; then
    tail -n 30 "$log" >&2
    echo "Installing failed; apt's whole output is in $log." >&2
    exit 1
  fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing with apt: ${missing[*]}"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    quietly "${sudo[@]}" dpkg --add-architecture i386
  fi
  quietly "${sudo[@]}" apt-get update
  quietly "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
  echo "Installed ${#missing[@]} packages (apt's output: $log)."
fi

# Where the machine runs no 32-bit x86 program, Wine's 32-bit loader runs under qemu-i386 of
# qemu-user 10 or later (Debian 12's 7.2 can't run it): from the backports of the machine's own
# Debian release, at the address its apt sources give, and only that package from there, without
# the package that would register it for the whole machine.
[[ "${1:-native}" == all ]] || exit 0
/usr/lib/wine/wine --version >/dev/null 2>&1 </dev/null && exit 0
qemu=$(/usr/bin/qemu-i386 --version 2>/dev/null | grep -o -m1 'version [0-9]*' || true)
[[ ${qemu#version } -ge 10 ]] 2>/dev/null && exit 0
release=$(. /etc/os-release && echo "$VERSION_CODENAME")
echo "Installing qemu-user from $release-backports: this machine runs no 32-bit programs."
if ! apt-get indextargets --format '$(RELEASE)' | grep -qx "$release-backports"; then
  archive=$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' |
    awk -v r="$release" '$1 == r {print $2; exit}')
  [[ -n $archive ]] || { echo "No Debian source for $release in apt's sources." >&2; exit 1; }
  source="deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $archive"
  quietly "${sudo[@]}" sh -c 'echo "$1" >"$2"' sh "$source $release-backports main" \
    "/etc/apt/sources.list.d/$release-backports.list"
fi
quietly "${sudo[@]}" apt-get update
quietly "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
  -t "$release-backports" qemu-user
echo "Installed qemu-user from $release-backports (apt's output: $log)."
