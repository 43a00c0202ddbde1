#!/usr/bin/env bash
# Installs what building and testing fogswitch needs on Debian 12 (bookworm), only what is
# missing, with apt as root or through sudo. Prints a line or two; apt's own output goes to a log
# file, whose tail is shown only when the install fails.
# Usage: scripts/setup.sh [native|all]   (all adds the Windows cross compiler and Wine, and where
#                                         the machine runs no 32-bit program, qemu-user)
set -euo pipefail
cd "$(dirname "$0")/.."

# e2fsprogs: chattr; util-linux: unshare and mount, for the tests' refusals and full disks.
packages=(cmake g++ make libgtest-dev libgmock-dev python3 python3-pexpect e2fsprogs util-linux)
if [[ "${1:-native}" == all ]]; then
  packages+=(g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 wine64)
fi

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
release=$(. /etc/os-release && echo "$VERSION_CODENAME")
log=""
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o Acquire::Retries=3)
# Runs a step of the install with its output in the log, made when the first step runs.
logged() {
  [[ -n $log ]] || log=$(mktemp "${TMPDIR:-/tmp}/fogswitch-setup.XXXXXX.log")
  "$@" >>"$log" 2>&1 </dev/null
}
failed() {
  tail -n 30 "$log" >&2
  echo "Installing failed; apt's whole output is in $log." >&2
  exit 1
}

# An index that can't be fetched (a mirror mid-sync) is said, not fatal: the install decides.
update_ok=true
update() {
  logged "${apt[@]}" update && return
  update_ok=false
  echo "apt-get update reported errors; going on with the indexes it has (see $log)."
}

# Packages of both architectures must have one version, and a missing index of one suite may
# leave the other's newer: then the release's own suite is preferred, once.
install() {
  logged "${apt[@]}" install -y "$@" && return
  ! $update_ok || failed
  echo "Trying again, preferring $release's own packages."
  logged "${apt[@]}" install -y -t "$release" "$@" || failed
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing with apt: ${missing[*]}"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    logged "${sudo[@]}" dpkg --add-architecture i386 || failed
  fi
  update
  install "${missing[@]}"
  echo "Installed ${#missing[@]} packages (apt's output: $log)."
fi

# Where the machine runs no 32-bit x86 program, Wine's 32-bit loader runs under qemu-i386 of
# qemu-user 10 or later: from the backports of the machine's own Debian release, at the address
# its apt sources give, and only that package from there, without the package that would
# register it for the whole machine.
[[ "${1:-native}" == all ]] || exit 0
[[ -n $(scripts/wine.sh --missing) ]] || exit 0
echo "Installing qemu-user from $release-backports: this machine runs no 32-bit programs."
if ! apt-get indextargets --format '$(RELEASE)' | grep -qx "$release-backports"; then
  archive=$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' |
    awk -v r="$release" '$1 == r {print $2; exit}')
  [[ -n $archive ]] || { echo "No Debian source for $release in apt's sources." >&2; exit 1; }
  source="deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $archive"
  logged "${sudo[@]}" sh -c 'echo "$1" >"$2"' sh "$source $release-backports main" \
    "/etc/apt/sources.list.d/$release-backports.list" || failed
fi
update
logged "${apt[@]}" install -y --no-install-recommends -t "$release-backports" qemu-user || failed
echo "Installed qemu-user from $release-backports (apt's output: $log)."
