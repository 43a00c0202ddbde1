#!/bin/sh
# Runs a command in the current folder on a full disk: a 16 KiB tmpfs mounted on the folder, in a
# mount namespace of its own (and a user namespace when not root, which Debian's kernel allows),
# holding th2.exe and the folder's cam.cfg, its zeros a hole that takes no room, and a file of
# $FILL (zeros when unset) that fills the rest. $FULL_DISK_BEFORE and $FULL_DISK_AFTER run around
# the command there; then the folder's own cam.cfg gets what the tmpfs's holds. Exits with the
# command's status, or 99 where no such disk can be made here.
# Usage: tests/full_disk.sh COMMAND [ARGUMENT...]
if [ -z "${FULL_DISK_INSIDE-}" ]; then
  user=""
  [ "$(id -u)" -eq 0 ] || user="--map-current-user --keep-caps"
  unshare --mount $user true 2>/dev/null || exit 99
  FULL_DISK_INSIDE=1 exec unshare --mount $user "$0" "$@"
fi
exec 3<>cam.cfg
mount -t tmpfs -o size=16k tmpfs . || exit 99
cd "$PWD" || exit 99
touch th2.exe
dd bs=4k conv=sparse of=cam.cfg <&3 2>/dev/null
dd if="${FILL:-/dev/zero}" of=fill 2>/dev/null
eval "${FULL_DISK_BEFORE-}"
"$@"
status=$?
eval "${FULL_DISK_AFTER-}"
cat cam.cfg >/dev/fd/3 && exit $status
