#!/bin/bash
# Starts one simulated CGNAT device: a private sshd on 127.0.0.1 whose test
# user is forced into cgnat-device. Run as root. Prints the port and writes
# DIR/device.env (DEVICE_HOST, DEVICE_PORT, DEVICE_USER, DEVICE_PASSWORD,
# DEVICE_PID). Stop it with stop_device.sh DIR.
#
# start_device.sh [--dir DIR] [--binary PATH] [--kbdint-only]
#                 [--user NAME] [--password TEXT | --password-file FILE]
#                 [--hash METHOD] [--all-loopback] [--max-startups N]
#                 [--auth-pause-ms ASK,ANSWER] [--authorized-key FILE]
#                 [setting=value ...]
# --password-file: the password is the file's exact bytes, of any length
# (empty too), checked over keyboard-interactive by a PAM service of this
# instance's own; the user's system password is left alone, and device.env
# names the copy (DEVICE_PASSWORD_FILE) instead of holding the password.
# --hash: chpasswd's crypt method for the password (default: chpasswd's own,
# yescrypt on Debian 12; SHA512 costs far less CPU per login).
# --all-loopback: one sshd for every 127.x.y.z address (sshd takes at most 16
# ListenAddress lines): it listens on 0.0.0.0 and admits the user only from
# 127.0.0.0/8. --max-startups: sshd's MaxStartups (200).
# --auth-pause-ms: the password is checked over keyboard-interactive by the
# instance's PAM service, which waits ASK ms before asking for it and ANSWER
# ms before answering: a login whose steps are each slow. (sshd itself pads a
# pending keyboard-interactive answer up to about twice its time.)
# --authorized-key: the test user may also log in with the key whose public
# half FILE holds (an authorized_keys of this instance's own); repeatable.
# Settings go to the device (summary=FILE, errors=FILE, summary_lines=N,
# prompt=TEXT, page_length=N, fault=a,b, slow_ms=N, drop_after=N,
# huge_mib=N, byte_pause_ms=N, echo_pause_ms=N, echo_width=N,
# banner_delay_ms=N, columns=N; the faults are listed in device_config.cpp).
# Login shells and decorated prompts: fault=tty-echo leaves the terminal
# cooked, so it echoes typed bytes at once, before the device reads whole
# lines (with banner_delay_ms=N, a slow login profile: an early Enter is
# echoed before the banner and answered by a second prompt on the prompt's
# line); paste-codes writes ESC[?2004h before each prompt and ESC[?2004l CR
# after each line read; erase-prompt draws each prompt after CR ESC[K;
# fish-padding writes fish 3.6's end-of-line mark, padding and blanks out to
# the last of `columns` (the terminal's width by default) before each prompt
# and its cursor move after it. A prompt not ending in "$": prompt=r1# .
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
dir="" binary="${CGNAT_DEVICE_BIN:-}" kbdint_only=no
user=cgnatsim password='Sim-device-2024' password_file=""
hash_method="" listen=127.0.0.1 allowed="" max_startups=200 auth_pause_ms=""
settings=() authorized_keys=()
while [ $# -gt 0 ]; do
  case "$1" in
    --dir) dir=$2; shift 2 ;;
    --binary) binary=$2; shift 2 ;;
    --kbdint-only) kbdint_only=yes; shift ;;
    --user) user=$2; shift 2 ;;
    --password) password=$2; shift 2 ;;
    --password-file) password_file=$2; shift 2 ;;
    --hash) hash_method=$2; shift 2 ;;
    --all-loopback) listen=0.0.0.0 allowed=@127.0.0.0/8; shift ;;
    --max-startups) max_startups=$2; shift 2 ;;
    --auth-pause-ms) auth_pause_ms=$2; shift 2 ;;
    --authorized-key) authorized_keys+=("$2"); shift 2 ;;
    *=*) settings+=("$1"); shift ;;
    *) echo "start_device.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ "$(id -u)" = 0 ] || { echo "start_device.sh: run as root" >&2; exit 1; }
if [ -z "$binary" ]; then
  binary="$here/../build/device_simulator/cgnat-device"
fi
[ -x "$binary" ] || { echo "start_device.sh: no device program at $binary (build target cgnat-device, or pass --binary)" >&2; exit 1; }
[ -n "$dir" ] || dir=$(mktemp -d /tmp/cgnat-device.XXXXXX)
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
chmod 755 "$dir"

# The test user: created once, password (re)set every time; serialised so
# parallel starts do not race in useradd.
(
  flock 9
  if ! id -u "$user" >/dev/null 2>&1; then
    useradd --system --create-home --home-dir "/var/lib/$user" \
      --shell /bin/sh "$user"
  fi
  [ -n "$password_file" ] || echo "$user:$password" | chpasswd ${hash_method:+-c "$hash_method"}
) 9>/run/cgnat-device-users.lock

# Everything the user's session reads lives in the instance directory.
install -m 755 "$binary" "$dir/cgnat-device"
conf="$dir/device.conf"
: >"$conf"
summary_given=no errors_given=no
for setting in "${settings[@]+"${settings[@]}"}"; do
  key=${setting%%=*} value=${setting#*=}
  case "$key" in
    summary|errors)
      install -m 644 "$value" "$dir/$key.txt"
      setting="$key=$dir/$key.txt"
      eval "${key}_given=yes" ;;
  esac
  printf '%s\n' "$setting" >>"$conf"
done
[ $summary_given = yes ] || { install -m 644 "$here/samples/summary.txt" "$dir/summary.txt"; echo "summary=$dir/summary.txt" >>"$conf"; }
[ $errors_given = yes ] || { install -m 644 "$here/samples/errors.txt" "$dir/errors.txt"; echo "errors=$dir/errors.txt" >>"$conf"; }
chmod 644 "$conf"

if ! runuser -u "$user" -- test -x "$dir/cgnat-device"; then
  echo "start_device.sh: user $user cannot reach $dir (a parent directory is not searchable); choose another --dir" >&2
  exit 1
fi
pubkey_auth=no
if [ ${#authorized_keys[@]} -gt 0 ]; then
  cat "${authorized_keys[@]}" >"$dir/authorized_keys"
  chmod 644 "$dir/authorized_keys"
  pubkey_auth=yes
fi
[ -f "$dir/host_key" ] || ssh-keygen -q -t ed25519 -N '' -f "$dir/host_key"
mkdir -p /run/sshd
# sshd takes its PAM service name from the name it is started as: a link of
# this instance's own name selects /etc/pam.d/NAME (stop_device.sh removes it).
sshd=/usr/sbin/sshd pam_service=""
if [ -n "$password_file" ] || [ -n "$auth_pause_ms" ]; then
  module="$(dirname "$binary")/password_file_pam.so"
  [ -f "$module" ] || { echo "start_device.sh: no PAM module at $module (build target password_file_pam)" >&2; exit 1; }
  install -m 644 "$module" "$dir/password_file_pam.so"
  if [ -n "$password_file" ]; then
    install -m 600 "$password_file" "$dir/password"
  else
    (umask 077 && printf '%s' "$password" >"$dir/password")
  fi
  pauses=""
  if [ -n "$auth_pause_ms" ]; then
    pauses=" ask_pause_ms=${auth_pause_ms%,*} answer_pause_ms=${auth_pause_ms#*,}"
  fi
  pam_service="cgnat-device-$(printf '%s' "$dir" | md5sum | cut -c1-16)"
  # Gone again unless sshd starts with it.
  trap '[ -s "$dir/device.env" ] || rm -f "/etc/pam.d/$pam_service"' EXIT
  cat >"/etc/pam.d/$pam_service" <<PAM
auth required $dir/password_file_pam.so file=$dir/password$pauses
account required pam_permit.so
session required pam_permit.so
PAM
  ln -sfn /usr/sbin/sshd "$dir/$pam_service"
  sshd="$dir/$pam_service"
  password_auth=no kbdint_auth=yes use_pam=yes
elif [ $kbdint_only = yes ]; then
  password_auth=no kbdint_auth=yes use_pam=yes
else
  password_auth=yes kbdint_auth=no use_pam=no
fi

port_in_use() { ss -Htln "sport = :$1" | grep -q .; }
for attempt in $(seq 1 20); do
  port=$((20000 + RANDOM % 12000))
  port_in_use "$port" && continue
  cat >"$dir/sshd_config" <<CONF
Port $port
ListenAddress $listen
HostKey $dir/host_key
PidFile $dir/sshd.pid
AllowUsers $user$allowed
PermitRootLogin no
PubkeyAuthentication $pubkey_auth
AuthorizedKeysFile $dir/authorized_keys
PasswordAuthentication $password_auth
KbdInteractiveAuthentication $kbdint_auth
UsePAM $use_pam
ForceCommand $dir/cgnat-device --config $conf
PrintMotd no
PrintLastLog no
X11Forwarding no
AllowTcpForwarding no
MaxStartups $max_startups
StrictModes no
LogLevel VERBOSE
CONF
  rm -f "$dir/sshd.pid"
  if "$sshd" -f "$dir/sshd_config" -E "$dir/sshd.log"; then
    for wait in $(seq 1 100); do
      [ -s "$dir/sshd.pid" ] && break
      sleep 0.05
    done
    [ -s "$dir/sshd.pid" ] || { echo "start_device.sh: sshd wrote no pid file (see $dir/sshd.log)" >&2; exit 1; }
    pid=$(cat "$dir/sshd.pid")
    umask 077
    if [ -n "$password_file" ]; then
      secret="DEVICE_PASSWORD_FILE=$dir/password"
    else
      secret="DEVICE_PASSWORD=$password"
    fi
    cat >"$dir/device.env" <<ENV
DEVICE_HOST=127.0.0.1
DEVICE_PORT=$port
DEVICE_USER=$user
$secret
DEVICE_PID=$pid
DEVICE_DIR=$dir
DEVICE_PAM_SERVICE=$pam_service
ENV
    echo "$port"
    exit 0
  fi
done
echo "start_device.sh: sshd did not start (see $dir/sshd.log)" >&2
exit 1
