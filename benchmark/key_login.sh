#!/bin/bash
# Wall time of a full debug run logging in with a key (CGNAT_SSH_KEY_FILE)
# against one logging in with the password, same simulated device, median of
# RUNS runs each, and whether both reports are identical. Run as root.
#
# key_login.sh [RUNS] [BUILD_DIR]   (9; build-bench/, else build/)
set -euo pipefail

runs=${1:-9}
here=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$here/build-bench}
[ -d "$build" ] || build=$here/build
collector="$build/LINUX/cgnat-collector"
device="$build/device_simulator/cgnat-device"
for program in "$collector" "$device"; do
  [ -x "$program" ] || { echo "falta $program (compile cgnat-collector e cgnat-device)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/cgnat-key-login.XXXXXX)
chmod 755 "$work"
trap '"$here/device_simulator/stop_device.sh" "$work/device" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
ssh-keygen -q -t ed25519 -N '' -f "$work/id"
"$here/device_simulator/start_device.sh" --dir "$work/device" --binary "$device" \
  --authorized-key "$work/id.pub" >/dev/null
# shellcheck disable=SC1091
. "$work/device/device.env"

# Prints the median of RUNS wall times of the collector's debug run, with the
# environment given first; keeps the last report in $work/$1.report.
median_run() {
  local name=$1; shift
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s%N)
    env HOME="$work" "$@" "$collector" discoveryLinux "$DEVICE_HOST" "$DEVICE_PORT" \
      "$DEVICE_USER" "$DEVICE_PASSWORD" debug >"$work/$name.report"
    end=$(date +%s%N)
    echo $(( (end - start) / 1000 ))
  done | sort -n | awk -v n="$runs" 'NR == int((n + 1) / 2) { printf "%.1f ms\n", $1 / 1000 }'
}

echo "password: $(median_run password)"
echo "key:      $(median_run key CGNAT_SSH_KEY_FILE="$work/id")"
echo "logins by key: $(grep -c 'Accepted publickey' "$work/device/sshd.log"), by password: $(grep -c 'Accepted password' "$work/device/sshd.log")"
if cmp -s "$work/password.report" "$work/key.report"; then
  echo "reports identical"
else
  echo "reports differ"
fi
