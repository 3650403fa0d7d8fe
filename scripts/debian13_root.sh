#!/usr/bin/env bash
# A Debian 13 ("trixie") root for building and trying the collector there,
# kept at a fixed place outside any work tree so later runs reuse it.
#
# debian13_root.sh create            make the root (or complete it): debootstrap
#                                    minbase, then the build and packaging
#                                    packages (scripts/setup.sh --build-list and
#                                    debian/control's Build-Depends)
# debian13_root.sh mount             mount proc, sys, dev, dev/pts, dev/shm
# debian13_root.sh unmount           unmount them, each by its exact mount point
# debian13_root.sh run [--bind DIR]... -- COMMAND...
#                                    COMMAND in the root as root, DIR mounted at
#                                    the same path inside; the file systems are
#                                    mounted for the command only (unless
#                                    `mount` already did) and released on exit
# debian13_root.sh locked COMMAND... COMMAND on this machine, holding the
#                                    root's lock throughout, so that what it
#                                    installs in the root stays as it left it
#                                    between its own `run`s (those, and
#                                    `create`, then skip the lock)
# CGNAT_DEBIAN13_ROOT: where the root lives (default
# /var/cache/cgnat-collector/debian13-root). Run as root.
# The archive is the one this machine's apt already uses.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
root=${CGNAT_DEBIAN13_ROOT:-/var/cache/cgnat-collector/debian13-root}
lock=$root.lock
# Order matters: dev before dev/pts and dev/shm; unmounted in reverse.
mount_points=(proc sys dev dev/pts dev/shm)

say() { printf '[debian13-root] %s\n' "$*" >&2; }
die() {
  say "ERRO: $*"
  exit 1
}
[ "$(id -u)" = 0 ] || die "rode como root"
# A signal still runs the EXIT trap, which releases the mounts.
trap 'exit 130' INT TERM HUP

# The main archive of this machine's apt sources: the URI serving the plain
# release suite (not -security or -updates).
mirror() {
  local codename uri
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  uri=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk -v suite="$codename" '
    /^$/ { if (found && uri != "") { print uri; exit } uri = ""; found = 0; next }
    /^URIs:/ { uri = $2 }
    /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) found = 1 }
    END { if (found && uri != "") print uri }' | head -n 1)
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk -v suite="$codename" '$1 == "deb" && $0 ~ " " suite " " {
      for (i = 2; i <= NF; i++) if ($i !~ /^\[/ && $i ~ /:\/\//) { print $i; exit } }' /etc/apt/sources.list)
  fi
  [ -n "$uri" ] || die "nenhum arquivo Debian para $codename nas fontes do apt"
  printf '%s\n' "$uri"
}

# What the root needs: the build of the collector and its server-free tests,
# and what building and linting the package takes.
wanted_packages() {
  {
    bash "$here/scripts/setup.sh" --build-list
    awk '/^Build-Depends:/ { on = 1; sub(/^Build-Depends:/, "") }
         on && /^[^ \t]/ && !/^Build-Depends:/ { on = 0 }
         on' "$here/debian/control" | tr ',' '\n' |
      sed 's/[[(<].*//; s/[[:space:]]//g; s/^debhelper-compat$/debhelper/'
  } | grep -v '^$' | sort -u
}

# Waits for the root's lock, unless a `locked` command around this one holds
# it.
take_lock() {
  [ -n "${CGNAT_DEBIAN13_LOCKED:-}" ] && return 0
  exec 9>"$lock"
  flock 9
}

is_mounted() { findmnt -rn --mountpoint "$1" >/dev/null; }

# What this invocation mounted, released by release_mounts.
mounted=()

# Mounts what is not mounted yet.
mount_all() {
  local point target
  for point in "${mount_points[@]}"; do
    target=$root/$point
    is_mounted "$target" && continue
    mkdir -p "$target"
    case "$point" in
      proc) mount -t proc proc "$target" ;;
      sys) mount -t sysfs sysfs "$target" ;;
      dev) mount --bind /dev "$target" ;;
      dev/pts) mount --bind /dev/pts "$target" ;;
      dev/shm) mount -t tmpfs -o mode=1777 tmpfs "$target" ;;
    esac
    mounted+=("$target")
  done
}

# Unmounts the given mount points, last first, each by its own path.
unmount_points() {
  local i
  for ((i = $#; i >= 1; i--)); do
    if is_mounted "${!i}"; then umount "${!i}"; fi
  done
  return 0
}
command_pid=""
release_mounts() {
  if [ -n "$command_pid" ]; then
    kill -TERM -- "-$command_pid" 2>/dev/null || true
    wait "$command_pid" 2>/dev/null || true
  fi
  unmount_points "${mounted[@]+"${mounted[@]}"}"
  mounted=()
}

create() {
  mkdir -p "$(dirname "$root")"
  take_lock
  local started=$SECONDS
  if [ ! -x "$root/usr/bin/apt-get" ]; then
    local fresh=$root.new
    rm -rf "$fresh"
    say "debootstrap trixie em $root"
    debootstrap --variant=minbase trixie "$fresh" "$(mirror)" >"$fresh.log" 2>&1 ||
      { tail -n 30 "$fresh.log" >&2; die "debootstrap falhou"; }
    # Package scripts in the root must not start services.
    printf '#!/bin/sh\nexit 101\n' >"$fresh/usr/sbin/policy-rc.d"
    chmod 755 "$fresh/usr/sbin/policy-rc.d"
    rm -f "$fresh.log"
    mv "$fresh" "$root"
    say "debootstrap: $((SECONDS - started)) s"
  fi
  local missing=() package
  for package in $(wanted_packages); do
    [ "$(chroot "$root" dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" = "install ok installed" ] ||
      missing+=("$package")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    started=$SECONDS
    say "instalando ${missing[*]}"
    trap release_mounts EXIT
    mount_all
    chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    chroot "$root" env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    chroot "$root" apt-get clean
    release_mounts
    trap - EXIT
    say "pacotes: $((SECONDS - started)) s"
  fi
}

run() {
  local binds=()
  while [ $# -gt 0 ]; do
    case "$1" in
      --bind) binds+=("$(cd "$2" && pwd)"); shift 2 ;;
      --) shift; break ;;
      *) die "argumento desconhecido: $1 (uso: run [--bind DIR]... -- COMANDO...)" ;;
    esac
  done
  [ $# -gt 0 ] || die "run sem comando"
  [ -x "$root/usr/bin/apt-get" ] || die "$root não existe: rode '$0 create' antes"
  take_lock
  local dir
  trap release_mounts EXIT
  mount_all
  for dir in "${binds[@]+"${binds[@]}"}"; do
    mkdir -p "$root$dir"
    mount --bind "$dir" "$root$dir"
    mounted+=("$root$dir")
  done
  # In a process group of its own, so that a signal here stops it (and all
  # it started) before the mounts are released.
  local status=0
  setsid chroot "$root" "$@" <&0 &
  command_pid=$!
  wait "$command_pid" || status=$?
  command_pid=""
  release_mounts
  trap - EXIT
  return $status
}

case "${1:-}" in
  create) create ;;
  mount)
    [ -x "$root/usr/bin/apt-get" ] || die "$root não existe: rode '$0 create' antes"
    mount_all >/dev/null ;;
  unmount) unmount_points "${mount_points[@]/#/$root/}" ;;
  run) shift; run "$@" ;;
  locked)
    shift
    [ $# -gt 0 ] || die "locked sem comando"
    mkdir -p "$(dirname "$root")"
    # -o: the lock stays with flock itself, not with daemons COMMAND starts.
    CGNAT_DEBIAN13_LOCKED=1 exec flock -o "$lock" "$@" ;;
  *) echo "uso: $0 create | mount | unmount | run [--bind DIR]... -- COMANDO... | locked COMANDO..." >&2; exit 2 ;;
esac
