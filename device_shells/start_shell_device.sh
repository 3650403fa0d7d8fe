#!/bin/bash
# Starts one CGNAT device whose login shell is a real shell: a test user of
# its own with that shell, a `show` program in its PATH and a prompt ending
# in "$ ", behind a private OpenSSH sshd or dropbear on 127.0.0.1. Run as
# root. Prints the port and writes DIR/device.env (DEVICE_HOST, DEVICE_PORT,
# DEVICE_USER, DEVICE_PASSWORD_FILE, DEVICE_PID, ...). Stop it with
# stop_shell_device.sh DIR, which locks and removes the user.
#
# start_shell_device.sh --dir DIR --server sshd|dropbear
#                       --shell bash|zsh|dash|ash|mksh|fish|tcsh
#                       [--profile-delay SECONDS] [--late-message]
#                       [--authorized-key PUBLIC_KEY_FILE]
# --profile-delay: the startup file sleeps this long before the first prompt.
# --late-message: the startup file leaves a job that prints a line 0.3 s
# later, after the first prompt.
# --authorized-key: the user's ~/.ssh/authorized_keys, so the server takes
# that key as well as the password. DIR/host_key.pub is the server's key.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
dir="" server="" shell="" delay=0 late=no authorized_key=""
while [ $# -gt 0 ]; do
  case "$1" in
    --dir) dir=$2; shift 2 ;;
    --server) server=$2; shift 2 ;;
    --shell) shell=$2; shift 2 ;;
    --profile-delay) delay=$2; shift 2 ;;
    --late-message) late=yes; shift ;;
    --authorized-key) authorized_key=$2; shift 2 ;;
    *) echo "start_shell_device.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ "$(id -u)" = 0 ] || { echo "start_shell_device.sh: run as root" >&2; exit 1; }
[ -n "$dir" ] || { echo "start_shell_device.sh: --dir is required" >&2; exit 2; }
case "$server" in
  sshd | dropbear) ;;
  *) echo "start_shell_device.sh: --server sshd or dropbear" >&2; exit 2 ;;
esac
[ -z "$authorized_key" ] || [ -r "$authorized_key" ] || {
  echo "start_shell_device.sh: cannot read $authorized_key" >&2; exit 2; }
[[ "$delay" =~ ^[0-9]+(\.[0-9]+)?$ ]] || { echo "start_shell_device.sh: --profile-delay takes seconds" >&2; exit 2; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
chmod 755 "$dir"
[ ! -e "$dir/device.env" ] || { echo "start_shell_device.sh: $dir already holds a device" >&2; exit 1; }
started=no
# A start that fails part-way takes back what it did.
trap '[ $started = yes ] || bash "$here/stop_shell_device.sh" "$dir"' EXIT

# busybox picks the applet by the name it runs as: a login shell started as
# "-ash" through a link of that name.
case "$shell" in
  bash | zsh | dash | mksh | fish | tcsh)
    shell_path=$(command -v "$shell") ;;
  ash)
    ln -sfn "$(command -v busybox)" "$dir/ash"
    shell_path=$dir/ash ;;
  *) echo "start_shell_device.sh: unknown shell $shell" >&2; exit 2 ;;
esac

# Everything the session reads lives in the instance directory, owned by
# root; only the home is the user's.
install -d -m 755 "$dir/bin" "$dir/samples"
install -m 755 "$here/show" "$dir/bin/show"
install -m 644 "$here/../device_simulator/samples/summary.txt" \
  "$here/../device_simulator/samples/errors.txt" "$dir/samples/"
user="cgsh-$shell-$(head -c 4 /dev/urandom | od -An -tx1 | tr -d ' \n')"
home=$dir/home
(umask 077 && printf '%s' "$(head -c 15 /dev/urandom | base64 | tr '+/' 'xy')" >"$dir/password")
cat >"$dir/device.env" <<ENV
DEVICE_USER=$user
DEVICE_SHELL_PATH=$shell_path
DEVICE_DIR=$dir
ENV

# dropbear admits only login shells listed in /etc/shells; the user and the
# list change under one lock, as parallel starts would race.
(
  flock 9
  grep -qxF "$shell_path" /etc/shells || echo "$shell_path" >>/etc/shells
  useradd --system --no-create-home --home-dir "$home" --shell "$shell_path" "$user"
  printf '%s:%s\n' "$user" "$(cat "$dir/password")" | chpasswd -c SHA512
) 9>/run/cgnat-device-users.lock
install -d -m 755 -o "$user" -g "$user" "$home"
runuser -u "$user" -- test -x "$dir/bin/show" || {
  echo "start_shell_device.sh: user $user cannot reach $dir (a parent directory is not searchable); choose another --dir" >&2
  exit 1
}

# The startup file's lines, in each shell's own words.
prompt="cgnat-$shell\$ "
message="Message of the day: maintenance window Sunday 02:00-04:00 UTC"
sleep_line="" late_line=""
[ "$delay" = 0 ] || sleep_line="sleep $delay"
# Through sh, so no shell counts it as one of its jobs.
[ $late = no ] || late_line="sh -c '(sleep 0.3; echo \"$message\") &'"
write_startup() { # FILE, then the lines
  local file=$home/$1
  shift
  mkdir -p "$(dirname "$file")"
  printf '%s\n' "$@" "$sleep_line" "$late_line" >"$file"
}
case "$shell" in
  bash) write_startup .bash_profile "PATH=$dir/bin:\$PATH" "PS1='$prompt'" ;;
  zsh) write_startup .zshrc "PATH=$dir/bin:\$PATH" "PROMPT='$prompt'" ;;
  dash | ash) write_startup .profile "PATH=$dir/bin:\$PATH" "PS1='$prompt'" ;;
  # mksh reads ~/.mkshrc after ~/.profile.
  mksh) write_startup .mkshrc "PATH=$dir/bin:\$PATH" "PS1='$prompt'" ;;
  fish) write_startup .config/fish/config.fish "set -gx PATH $dir/bin \$PATH" \
    "function fish_prompt; printf '%s' '$prompt'; end" ;;
  # tcsh's set takes only variable names, and says so for "screen-length":
  # the device's paging command is let through without a word.
  tcsh) write_startup .tcshrc "set path = ( $dir/bin \$path )" \
    "set prompt = '$prompt'" \
    "alias set 'if (\"\\!:1\" != cli) \\set \\!*'" ;;
esac
chown -R "$user:$user" "$home"
# dropbear reads the file only from a home, ~/.ssh and file of the user's
# that no one else may write.
pubkey=no
if [ -n "$authorized_key" ]; then
  install -d -m 700 -o "$user" -g "$user" "$home/.ssh"
  install -m 600 -o "$user" -g "$user" "$authorized_key" "$home/.ssh/authorized_keys"
  pubkey=yes
fi

port_in_use() { ss -Htln "sport = :$1" | grep -q .; }
if [ "$server" = sshd ]; then
  ssh-keygen -q -t ed25519 -N '' -f "$dir/host_key"
  mkdir -p /run/sshd
  for attempt in $(seq 1 20); do
    port=$((20000 + RANDOM % 12000))
    port_in_use "$port" && continue
    cat >"$dir/sshd_config" <<CONF
Port $port
ListenAddress 127.0.0.1
HostKey $dir/host_key
PidFile $dir/server.pid
AllowUsers $user
PermitRootLogin no
PubkeyAuthentication $pubkey
AuthorizedKeysFile .ssh/authorized_keys
PasswordAuthentication yes
KbdInteractiveAuthentication no
UsePAM no
PrintMotd no
PrintLastLog no
X11Forwarding no
AllowTcpForwarding no
StrictModes no
LogLevel VERBOSE
CONF
    /usr/sbin/sshd -f "$dir/sshd_config" -E "$dir/server.log" || continue
    for wait in $(seq 1 100); do
      [ -s "$dir/server.pid" ] && break
      sleep 0.05
    done
    [ -s "$dir/server.pid" ] && started=yes && break
  done
else
  dropbearkey -t ed25519 -f "$dir/host_key" >/dev/null 2>&1
  dropbearkey -y -f "$dir/host_key" | grep '^ssh-' >"$dir/host_key.pub"
  for attempt in $(seq 1 20); do
    port=$((20000 + RANDOM % 12000))
    port_in_use "$port" && continue
    # In the foreground of a background job of its own session: its pid is
    # the listener's. -m: no motd; -w: no root; -j -k: no forwarding.
    setsid dropbear -F -E -m -w -j -k -r "$dir/host_key" -p "127.0.0.1:$port" \
      </dev/null >>"$dir/server.log" 2>&1 &
    pid=$!
    for wait in $(seq 1 100); do
      port_in_use "$port" && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    if port_in_use "$port" && kill -0 "$pid" 2>/dev/null; then
      echo "$pid" >"$dir/server.pid"
      started=yes
      break
    fi
  done
fi
[ $started = yes ] || { echo "start_shell_device.sh: $server did not start (see $dir/server.log)" >&2; exit 1; }
cat >>"$dir/device.env" <<ENV
DEVICE_HOST=127.0.0.1
DEVICE_PORT=$port
DEVICE_PASSWORD_FILE=$dir/password
DEVICE_SERVER=$server
DEVICE_PID=$(cat "$dir/server.pid")
ENV
echo "$port"
