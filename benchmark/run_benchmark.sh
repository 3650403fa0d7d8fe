#!/bin/bash
# The collector against the OpenSSH client, side by side on the same
# simulated device and the same private Zabbix server, runs interleaved
# (A, B, A, B, ...); prints N, medians and ratios:
#   1. full run: cgnat-collector discoveryLinux (session + 36 deliveries)
#      against ssh -tt via sshpass running the three commands in one PTY
#      session plus one zabbix_sender -i of the same 36 values;
#   2. the collector's peak resident memory (GNU time's %M, runs of its own);
#   3. device session alone: the SSH component (ssh_session_probe) against
#      ssh -tt via sshpass;
#   4. encrypted delivery: full runs to a host that accepts only PSK
#      against full runs to the unencrypted host, same device and server;
#   5. CPU per run (user + sys, median of at least 20): the banner and a
#      full run, each also with the collector linked against the shared
#      libraries (BUILD_DIR-shared, built here), beside ssh + zabbix_sender,
#      and the floors under them (cpu_floor, delivery_floor): a program
#      that does nothing, and one that makes only the 36 deliveries;
#   6. growth with the device's output: full runs (delivery mode) with
#      summaries of 10^2, 10^4 and 10^6 lines, each against the same
#      baseline as in 1, and the collector's peak memory (3 runs).
# Run as root (the device and the Zabbix server run as private instances).
#
# run_benchmark.sh [RUNS] [BUILD_DIR]
#   RUNS       runs per side and measure (default 11)
#   BUILD_DIR  a Release build (default build-bench, configured and built
#              here when missing)
# CGNAT_BENCH_ZBX_STATE: state directory of the Zabbix test server (default
# /var/tmp/cgnat-bench-zabbix); one already running there is reused and
# left running.
# CGNAT_BENCH_PARTS: which of "compare tls growth" to run (default all).
# CGNAT_BENCH_SHARED=no: no collector linked against the shared libraries
# (one build less; the CPU figures go without that line).
# CGNAT_BENCH_DEBIAN13=yes: the collector, its build (BUILD_DIR default
# build-bench-debian13), ssh and zabbix_sender are those of the Debian 13
# root (scripts/debian13_root.sh; sshpass, openssh-client, zabbix-sender,
# time and python3 installed there by hand; entered as the 7.0 test servers
# enter it, zabbix_test_server/in_root.sh), against Zabbix 7.0; the device
# stays on this machine, CGNAT_BENCH_DEVICE (default
# build-bench/device_simulator/cgnat-device, built here).
set -euo pipefail

runs=${1:-11}
here=$(cd "$(dirname "$0")/.." && pwd)
debian13=${CGNAT_BENCH_DEBIAN13:-no}
if [ "$debian13" = yes ]; then
  export ZABBIX_RELEASE=7.0
  build=${2:-$here/build-bench-debian13}
  zbx_state=${CGNAT_BENCH_ZBX_STATE:-/var/tmp/cgnat-bench-zabbix-7.0}
  device=${CGNAT_BENCH_DEVICE:-$here/build-bench/device_simulator/cgnat-device}
else
  build=${2:-$here/build-bench}
  zbx_state=${CGNAT_BENCH_ZBX_STATE:-/var/tmp/cgnat-bench-zabbix}
  device=${CGNAT_BENCH_DEVICE:-$build/device_simulator/cgnat-device}
fi
zabbix_host=cgnat-bench
psk_host=cgnat-bench-psk
parts=" ${CGNAT_BENCH_PARTS:-compare tls growth} "
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "uso: $0 [EXECUÇÕES] [DIR_BUILD]" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "run_benchmark.sh: rode como root" >&2; exit 1; }

work=$(mktemp -d /tmp/cgnat-bench.XXXXXX)
chmod 755 "$work" # the device's user must reach its instance directory
mkdir -p "$build" "$zbx_state"
devices=()
own_zabbix=no
cleanup() {
  for dir in "${devices[@]+"${devices[@]}"}"; do
    "$here/device_simulator/stop_device.sh" "$dir" >/dev/null 2>&1 || true
  done
  if [ $own_zabbix = yes ]; then
    "$here/zabbix_test_server/stop.sh" "$zbx_state" >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
# Builds and measured runs: here, or in the Debian 13 root with the folders
# they use at their own paths, as the 7.0 test servers run there (lib.sh).
root_dirs=("$here" "$build" "$zbx_state")
on_measured_side() {
  if [ "$debian13" = yes ]; then
    (
      # shellcheck source=../zabbix_test_server/lib.sh
      source "$here/zabbix_test_server/lib.sh"
      in_root "${root_dirs[@]}"
      "${IN_ROOT[@]}" "$@"
    )
  else
    "$@"
  fi
}
on_measured_side bash -c 'for tool in sshpass ssh zabbix_sender python3 /usr/bin/time cmake; do
  command -v "$tool" >/dev/null || { echo "run_benchmark.sh: falta $tool (scripts/setup.sh; GNU time vem do pacote time)" >&2; exit 1; }
done'

targets=(cgnat-collector cgnat-device ssh_session_probe cpu_floor cpu_floor_static
  delivery_floor)
if [ ! -f "$build/build.ninja" ]; then
  on_measured_side cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
on_measured_side cmake --build "$build" --target "${targets[@]}" >/dev/null
# The same collector linked as before static archives, for the CPU figures.
shared_build=$build-shared
if [[ $parts == *" compare "* && ${CGNAT_BENCH_SHARED:-yes} != no ]]; then
  mkdir -p "$shared_build"
  root_dirs+=("$shared_build")
  if [ ! -f "$shared_build/build.ninja" ]; then
    on_measured_side cmake -S "$here" -B "$shared_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCGNAT_STATIC_LINK=OFF -DCGNAT_TESTS=OFF >/dev/null
  fi
  on_measured_side cmake --build "$shared_build" --target cgnat-collector >/dev/null
  export CGNAT_BENCH_SHARED_COLLECTOR=$shared_build/LINUX/cgnat-collector
fi
[ -x "$device" ] || { echo "run_benchmark.sh: falta o dispositivo $device (compile cgnat-device aqui)" >&2; exit 1; }
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
[ "$build_type" = Release ] || echo "aviso: $build é um build '$build_type', não Release" >&2


alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }
zbx_running=no
if [ -f "$zbx_state/env" ]; then
  # shellcheck disable=SC1091
  (source "$zbx_state/env" && alive "$ZBX_SERVER_PID" && alive "$ZBX_POSTGRES_PID") && zbx_running=yes
fi
if [ $zbx_running = no ]; then
  own_zabbix=yes
  "$here/zabbix_test_server/start.sh" "$zbx_state" 2>/dev/null
fi
CGNAT_ZBX_STATE=$zbx_state "$here/zabbix_test_server/import_template.sh" "$zabbix_host" "$psk_host" 2>/dev/null

# The PSK host takes only PSK, with a key of this invocation; its identity
# is its own (one identity, one key on the server).
psk_identity=$psk_host
openssl rand -hex 32 >"$work/psk.key"
(
  # shellcheck disable=SC1091
  source "$zbx_state/env"
  psql -h "$ZBX_PG_SOCKET_DIR" -p "$ZBX_PG_PORT" -U "$ZBX_PG_USER" -d "$ZBX_PG_DB" \
    -X -q -v ON_ERROR_STOP=1 -c "UPDATE hosts SET tls_accept = 2,
      tls_psk_identity = '$psk_identity', tls_psk = '$(cat "$work/psk.key")'
      WHERE host = '$psk_host'"
)

# Starts a device in $work/NAME with the given settings; sets $device_env.
start_device() {
  local dir=$work/$1
  shift
  devices+=("$dir")
  "$here/device_simulator/start_device.sh" --dir "$dir" \
    --binary "$device" "$@" >/dev/null
  device_env=$dir/device.env
}
measure() { # PART LABEL
  on_measured_side python3 "$here/benchmark/bench_runs.py" "$1" "$runs" "$build" "$device_env" \
    "$zbx_state/env" "$work" "$zabbix_host" "${2:-}"
}
stop_last_device() {
  "$here/device_simulator/stop_device.sh" "${devices[-1]}" >/dev/null
}

echo "cgnat-collector: benchmark ($(nproc) núcleos, $(date '+%Y-%m-%d %H:%M'), build $build_type, $(on_measured_side sh -c '. /etc/os-release && echo "$PRETTY_NAME"'), Zabbix ${ZABBIX_RELEASE:-6.0})"
start_device standard
[[ $parts != *" compare "* ]] || measure compare
if [[ $parts == *" tls "* ]]; then
  sleep 2 # the server's configuration cache takes the PSK host within 1 s
  CGNAT_ZABBIX_TLS_CONNECT=psk CGNAT_ZABBIX_TLS_PSK_IDENTITY=$psk_identity \
    CGNAT_ZABBIX_TLS_PSK_FILE=$work/psk.key measure tls "$psk_host"
fi
stop_last_device

[[ $parts == *" growth "* ]] || exit 0
echo "Crescimento com a saída do dispositivo (execução completa, modo entrega, N=$runs, intercalado):"
for lines in 100 10000 1000000; do
  start_device "lines-$lines" summary_lines=$lines
  measure growth "$lines"
  stop_last_device
done
