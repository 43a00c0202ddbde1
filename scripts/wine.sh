#!/usr/bin/env bash
# Runs a Wine command as 64-bit Windows runs programs: Wine's 64-bit loader in a 64-bit prefix,
# which starts 32-bit programs such as fogswitch.exe through Wine's 32-bit loader. On a machine
# that runs no 32-bit x86 program, that loader runs under qemu-i386 (qemu-user 10 or later),
# registered for 32-bit x86 programs in a binfmt_misc of a private user and mount namespace
# (Linux 6.7 or later): nothing changes for the rest of the machine. There, Wine runs as the
# caller's own user, with no right the caller lacks, and the prefix's server runs outside, where
# the caller's mounts are seen: one already running is joined, else one is started that ends
# seconds after its last program. Where neither way works, only 64-bit programs start.
# Usage: scripts/wine.sh PROGRAM [ARGUMENT...]   as wine takes them
#        scripts/wine.sh --how                    prints how fogswitch.exe runs here, in one line,
#                                                 or why it can't (then fails)
#        scripts/wine.sh --missing                prints the package this machine lacks for it:
#                                                 qemu-user, or nothing
set -euo pipefail
wine32=/usr/lib/wine/wine wine64=/usr/lib/wine/wine64 qemu=/usr/bin/qemu-i386
conf=/usr/share/qemu/binfmt.d/qemu-i386.conf
export WINELOADER=$wine64 WINEARCH=win64

# As root of a user namespace of its own: a binfmt_misc there, with qemu-i386 for the magic and
# mask that qemu-user ships (the flag F opens it at once, so it serves in every mount namespace
# below); then, in a namespace inside it, the caller's own user again, which loses every
# capability at exec. Both namespaces end with Wine, which this shell becomes.
emulated() {
  local type offset magic mask
  IFS=: read -r _ _ type offset magic mask _ <"$conf"
  exec unshare --user --map-root-user --mount sh -c '
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
      printf ":fogswitch-i386:%s:%s:%s:%s:%s:F" "$3" "$4" "$5" "$6" "$7" \
        >/proc/sys/fs/binfmt_misc/register || exit 126
    uid=$1 gid=$2
    shift 7
    exec unshare --user --map-user="$uid" --map-group="$gid" -- "$@"' \
    sh "$(id -u)" "$(id -g)" "$type" "$offset" "$magic" "$mask" "$qemu" "$@"
}

# The one place that decides whether this machine runs 32-bit x86 programs.
runs_32bit() { "$wine32" --version >/dev/null 2>&1 </dev/null; }

# qemu-i386's version, as "version N", or nothing where it is missing.
qemu_version() { "$qemu" --version 2>/dev/null </dev/null | grep -o -m1 'version [0-9]*' || true; }
qemu_fits() { [[ ${1#version } -ge 10 && -f $conf ]] 2>/dev/null; }

# How the shipped exe runs here, in one line; or why it can't, and then it fails.
how() {
  local version
  if runs_32bit; then
    echo "fogswitch.exe (32-bit)"
    return
  fi
  version=$(qemu_version)
  if ! qemu_fits "$version"; then
    echo "Wine can't run fogswitch.exe here: this machine runs no 32-bit programs, and $qemu is" \
      "${version:-missing}, where Wine's 32-bit loader needs qemu-user 10 or later"
    return 1
  elif (emulated "$wine32" --version) >/dev/null 2>&1 </dev/null; then
    echo "fogswitch.exe (32-bit, its loader emulated: this machine runs no 32-bit programs)"
  else
    echo "Wine can't run fogswitch.exe here: this machine runs no 32-bit programs, and qemu-i386" \
      "can't run Wine's 32-bit loader in a user namespace of its own (a binfmt_misc there needs" \
      "Linux 6.7 or later)"
    return 1
  fi
}

case ${1-} in
  --how)
    how
    exit
    ;;
  --missing)
    runs_32bit || qemu_fits "$(qemu_version)" || echo qemu-user
    exit 0
    ;;
esac
if runs_32bit; then
  exec "$wine64" "$@"
fi
wineserver -p3 >/dev/null 2>&1 </dev/null || true # exits at once where one runs already
emulated "$wine64" "$@"
