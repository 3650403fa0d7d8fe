#!/bin/bash
# Becomes COMMAND (same pid) inside the Debian 13 root ROOT, run by lib.sh's
# in_root prefix in a mount namespace of its own (unshare --mount): proc,
# sys, dev, dev/pts and dev/shm are mounted there and /tmp and each DIR bound
# at its own path. Those mounts exist only in that namespace: the machine's
# mount table never sees them, and they go with the last process of the
# namespace, even one killed before its test could clean up.
# Usage: unshare --mount --propagation private -- in_root.sh ROOT DIR... -- COMMAND...
set -euo pipefail
root=$1
shift
# The namespace starts as a copy of the machine's: a point that
# debian13_root.sh has mounted there already is kept as it is.
at() { mountpoint -q "$root/$1" || mount "${@:2}" "$root/$1"; }
at proc -t proc proc
at sys -t sysfs sysfs
at dev --bind /dev
at dev/pts --bind /dev/pts
at dev/shm -t tmpfs -o mode=1777 tmpfs
at tmp --bind /tmp # short unix socket folders, seen from both sides
while [[ $1 != -- ]]; do
  if [[ $1 != /tmp/* ]]; then
    mkdir -p "$root$1"
    mount --bind "$1" "$root$1"
  fi
  shift
done
shift
exec chroot "$root" "$@"
