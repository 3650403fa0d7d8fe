#!/bin/bash
# Stops the real-shell device started in DIR: its server by the pid it
# recorded, then the test user's own processes by pid; locks and removes the
# user and takes the busybox link out of /etc/shells. Safe to run twice.
set -euo pipefail
dir=${1:?usage: stop_shell_device.sh DIR}
dir=$(cd "$dir" && pwd)
env_value() { sed -n "s/^$1=//p" "$dir/device.env" 2>/dev/null || true; }

# Only a server started with this directory's files is ours to stop.
pid=$(cat "$dir/server.pid" 2>/dev/null || true)
if [ -n "$pid" ] && grep -qa "$dir/" "/proc/$pid/cmdline" 2>/dev/null; then
  kill "$pid"
  for wait in $(seq 1 100); do
    # Gone, or a zombie its reaper has not collected yet.
    state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null || true)
    [ -n "$state" ] && [ "$state" != Z ] || break
    sleep 0.02
  done
fi
rm -f "$dir/server.pid"

user=$(env_value DEVICE_USER)
shell_path=$(env_value DEVICE_SHELL_PATH)
case "$user" in cgsh-*) ;; *) user="" ;; esac
(
  flock 9
  if [ -n "$user" ] && uid=$(id -u "$user" 2>/dev/null); then
    usermod --lock "$user" >/dev/null
    # Sessions still open (a shell, a late job) belong to this user alone.
    for round in 1 2 3; do
      pids=$(ps -o pid= -u "$uid" | tr -d ' ' || true)
      [ -n "$pids" ] || break
      # shellcheck disable=SC2086 # one pid a word
      kill -KILL $pids 2>/dev/null || true
      sleep 0.05
    done
    userdel "$user" 2>/dev/null || userdel --force "$user"
  fi
  # Only the link this instance made, never a system shell.
  if [ "$shell_path" = "$dir/ash" ] && grep -qxF "$shell_path" /etc/shells; then
    grep -vxF "$shell_path" /etc/shells >"$dir/shells.new" || true
    cat "$dir/shells.new" >/etc/shells
    rm -f "$dir/shells.new"
  fi
) 9>/run/cgnat-device-users.lock
