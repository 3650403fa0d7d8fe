#!/bin/bash
# Stops the simulated device started in DIR, by the pid it recorded. Safe to
# run twice.
set -euo pipefail
dir=${1:?usage: stop_device.sh DIR}
pid=""
if [ -f "$dir/device.env" ]; then
  pid=$(sed -n 's/^DEVICE_PID=//p' "$dir/device.env")
elif [ -f "$dir/sshd.pid" ]; then
  pid=$(cat "$dir/sshd.pid")
fi
# Only an sshd started with this directory's configuration is ours to stop.
if [ -n "$pid" ] && grep -qa "$dir/sshd_config" "/proc/$pid/cmdline" 2>/dev/null; then
  kill "$pid"
  for wait in $(seq 1 100); do
    # Gone, or a zombie its reaper has not collected yet.
    state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null || true)
    [ -n "$state" ] && [ "$state" != Z ] || break
    sleep 0.02
  done
fi
rm -f "$dir/sshd.pid"
# The PAM service of --password-file, by the name start_device.sh gave it.
service=$(sed -n 's/^DEVICE_PAM_SERVICE=//p' "$dir/device.env" 2>/dev/null || true)
case "$service" in
  */*) ;;
  cgnat-device-?*) rm -f "/etc/pam.d/$service" ;;
esac
