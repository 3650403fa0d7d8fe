#!/bin/bash
# Median wall time of one device session (connect, the collector's three
# commands, close) through the SSH component, against the OpenSSH client
# doing the same through sshpass, on the simulated device. Run as root.
#
# device_session_benchmark.sh [RUNS] [BUILD_DIR]
set -euo pipefail

runs=${1:-21}
here=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$here/build}
probe="$build/tarnlibrary/ssh_library/ssh_session_probe"
device="$build/device_simulator/cgnat-device"
for program in "$probe" "$device"; do
  [ -x "$program" ] || { echo "missing $program (build ssh_session_probe and cgnat-device)" >&2; exit 1; }
done
command -v sshpass >/dev/null || { echo "sshpass is needed (apt-get install sshpass)" >&2; exit 1; }

work=$(mktemp -d /tmp/cgnat-bench.XXXXXX)
chmod 755 "$work"
trap '"$here/device_simulator/stop_device.sh" "$work/device" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
"$here/device_simulator/start_device.sh" --dir "$work/device" --binary "$device" >/dev/null
# shellcheck disable=SC1091
source "$work/device/device.env"
export DEVICE_PASSWORD HOME="$work" # no known_hosts of the caller

component() {
  "$probe" "$DEVICE_HOST" "$DEVICE_PORT" "$DEVICE_USER" >/dev/null
}
openssh() {
  printf 'set cli screen-length 0\nshow cgnat summary\nshow cgnat errors\nexit\n' |
    sshpass -p "$DEVICE_PASSWORD" ssh -tt -o StrictHostKeyChecking=no \
      -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR \
      -p "$DEVICE_PORT" "$DEVICE_USER@$DEVICE_HOST" >/dev/null
}

# Median of RUNS timings of one function, in seconds.
median() {
  local name=$1 times=()
  for _ in $(seq 1 "$runs"); do
    local start end
    start=$(date +%s.%N)
    "$name"
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc -l)")
  done
  printf '%s\n' "${times[@]}" | sort -g | awk '{v[NR]=$1} END {
    if (NR % 2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2 }'
}

component # warm-up of both paths
openssh
a=$(median component)
b=$(median openssh)
printf 'runs: %s\n' "$runs"
printf 'component (ssh_session_probe): median %.3f s\n' "$a"
printf 'OpenSSH client via sshpass:    median %.3f s\n' "$b"
printf 'ratio component/OpenSSH:       %.2f\n' "$(echo "$a / $b" | bc -l)"
