#!/bin/bash
# The device session alone (connect, the collector's three commands, close)
# through the SSH component, against the OpenSSH client doing the same
# through sshpass, on the simulated device, interleaved; no Zabbix server
# needed. run_benchmark.sh measures this too, with the full runs. Run as
# root.
#
# device_session_benchmark.sh [RUNS] [BUILD_DIR]
set -euo pipefail

runs=${1:-21}
here=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$here/build}
probe="$build/tarnlibrary/ssh_library/ssh_session_probe"
device="$build/device_simulator/cgnat-device"
for program in "$probe" "$device"; do
  [ -x "$program" ] || { echo "falta $program (compile ssh_session_probe e cgnat-device)" >&2; exit 1; }
done
command -v sshpass >/dev/null || { echo "falta sshpass (apt-get install sshpass)" >&2; exit 1; }

work=$(mktemp -d /tmp/cgnat-bench.XXXXXX)
chmod 755 "$work"
trap '"$here/device_simulator/stop_device.sh" "$work/device" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
"$here/device_simulator/start_device.sh" --dir "$work/device" --binary "$device" >/dev/null
python3 "$here/benchmark/bench_runs.py" session "$runs" "$build" \
  "$work/device/device.env" - "$work" -
