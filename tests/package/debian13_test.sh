#!/usr/bin/env bash
# The collector on Debian 13, in the root scripts/debian13_root.sh keeps
# (made on first use): built there with warnings as errors, its server-free
# tests run, its package built, linted, installed and run against the
# simulated device (on this machine's loopback) printing non-ASCII text, the
# build of this machine run there too, the package run by the root's Zabbix
# 7.0 server as the template's external check, then purged.
# Usage: debian13_test.sh BUILD_DIR   (this machine's build, with the device
# program; work files and the Debian 13 build go to BUILD_DIR/debian13)
set -euo pipefail
root_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?uso: $0 BUILD_DIR}" && pwd)
work=$build/debian13
started=$SECONDS

say() { printf '[debian13] %s\n' "$*" >&2; }
fail() {
  say "ERRO: $*"
  exit 1
}
[ "$(id -u)" = 0 ] || fail "rode como root"
# All of it under the root's lock: no other run installs or purges the
# package in the root between this one's steps.
[[ -n ${CGNAT_DEBIAN13_LOCKED:-} ]] ||
  exec bash "$root_dir/scripts/debian13_root.sh" locked bash "$0" "$@"

step=$SECONDS
bash "$root_dir/scripts/debian13_root.sh" create
say "raiz pronta em $((SECONDS - step)) s"

# The Debian 13 build stays between runs (it builds with -Werror, so an
# unchanged file cannot hide a warning); everything else is new each time.
mkdir -p "$work"
find "$work" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
device_dir=$work/device
binds=(--bind "$root_dir")
[[ $work == "$root_dir"/* ]] || binds+=(--bind "$work")
in_root() { bash "$root_dir/scripts/debian13_root.sh" run "${binds[@]}" -- "$@"; }
installing=no
cleanup() {
  if [[ $installing == yes ]]; then in_root bash "$root_dir/tests/package/debian13_inside.sh" purge || true; fi
  bash "$root_dir/device_simulator/stop_device.sh" "$device_dir" 2>/dev/null || true
}
trap cleanup EXIT

# Beside the sample's counters, a line the collector lower-cases with ICU.
cp "$root_dir/device_simulator/samples/errors.txt" "$work/errors.txt"
printf '  Pacotes descartados (não traduzíveis)             4           2\n' >>"$work/errors.txt"
bash "$root_dir/device_simulator/start_device.sh" --dir "$device_dir" \
  --binary "$build/device_simulator/cgnat-device" errors="$work/errors.txt" >/dev/null
install -m 755 "$build/LINUX/cgnat-collector" "$work/cgnat-collector-host"

installing=yes
in_root bash "$root_dir/tests/package/debian13_inside.sh" install "$root_dir" "$work" "$device_dir/device.env"
bash "$root_dir/tests/package/debian13_external_check.sh" "$work" "$device_dir/device.env"
in_root bash "$root_dir/tests/package/debian13_inside.sh" purge
installing=no
say "removido; tudo em $((SECONDS - started)) s"
