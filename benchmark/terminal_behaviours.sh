#!/bin/bash
# Wall time of a debug run against the simulated device showing each
# terminal behaviour, then against real shells behind sshd and dropbear,
# median of RUNS runs, beside the plain device's; the difference is the
# device's own pacing. Says whether each report is byte-identical to the
# plain device's. No Zabbix server needed. Run as root.
#
# terminal_behaviours.sh [RUNS] [BUILD_DIR]   (3; build-bench/, else build/)
set -euo pipefail

runs=${1:-3}
here=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$here/build-bench}
[ -d "$build" ] || build=$here/build
collector="$build/LINUX/cgnat-collector"
device="$build/device_simulator/cgnat-device"
for program in "$collector" "$device"; do
  [ -x "$program" ] || { echo "falta $program (compile cgnat-collector e cgnat-device)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/cgnat-behaviours.XXXXXX)
chmod 755 "$work"
trap '"$here/device_simulator/stop_device.sh" "$work/device" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

# name|device settings (separated by ";")
behaviours=(
  "plain|"
  "no echo|fault=no-echo"
  "no echo + slow + late prompt + byte-wise|fault=no-echo,slow,late-prompt,byte-wise"
  "byte-wise|fault=byte-wise"
  "byte-wise, 1 ms per byte|fault=byte-wise;byte_pause_ms=1"
  "byte-wise, 5 ms per byte|fault=byte-wise;byte_pause_ms=5"
  "cut at \"\$\", CR/LF, escapes|fault=cut-output,colour-prompt,prompt-escapes"
  "line editor|fault=line-editor"
  "line editor, width 7, 5 ms echo|fault=line-editor;echo_width=7;echo_pause_ms=5"
  "redrawn prompt|fault=redraw-prompt"
  "escapes after prompt|fault=prompt-escapes"
  "prompt without trailing blank|prompt=cgnat-device\$"
  "prompt written twice|fault=double-prompt"
  "late prompt|fault=late-prompt"
  "CR CR LF|fault=cr-cr-lf"
  "LF CR|fault=lf-cr"
  "\"Last login:\"|fault=last-login"
  "late MOTD|fault=late-motd"
  "wall message|fault=wall"
  "syslog line redraws the prompt|fault=syslog-redraw"
  "no prompt until Enter|fault=enter-first"
  "prompt changes per command|fault=changing-prompt"
  "banner boxed in \"\$\"|fault=dollar-box"
  "banner line ending in \"\$\"|fault=dollar-banner"
  "answers slowly (1 s)|fault=slow;slow_ms=1000"
  "terminal echoes|fault=tty-echo"
  "terminal echoes, banner after 0.7 s|fault=tty-echo;banner_delay_ms=700"
  "terminal echoes, banner after 1 s|fault=tty-echo;banner_delay_ms=1000"
  "terminal echoes, banner after 2 s|fault=tty-echo;banner_delay_ms=2000"
  "terminal echoes + paste codes|fault=tty-echo,paste-codes"
  "terminal echoes + CR, erase, prompt|fault=tty-echo,erase-prompt"
  "terminal echoes + prompt written twice|fault=tty-echo,double-prompt"
  "CR, erase, prompt|fault=erase-prompt"
  "fish's padding before each prompt|fault=fish-padding"
  "prompt \"r1# \" (ends with status 1)|prompt=r1# "
)

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# time_runs NAME PASSWORD: RUNS debug runs against the device in device.env
# (sourced), one line with their median beside the plain device's.
plain_ms=""
time_runs() {
  local name=$1 password=$2 times=() start ms same
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    HOME=$work "$collector" discoveryLinux "$DEVICE_HOST" "$DEVICE_PORT" "$DEVICE_USER" \
      "$password" debug >"$work/report" 2>&1 || true
    times+=($((($(date +%s%N) - start) / 1000000)))
  done
  ms=$(printf '%s\n' "${times[@]}" | median)
  if [ -z "$plain_ms" ]; then
    plain_ms=$ms
    cp "$work/report" "$work/plain-report"
  fi
  same="igual"
  cmp -s "$work/report" "$work/plain-report" || same="DIFERENTE"
  printf '%-44s %6s ms %+6d ms  %s\n' "$name" "$ms" $((ms - plain_ms)) "$same"
}

printf '%-44s %9s %9s  %s\n' "comportamento (N=$runs)" "mediana" "- plain" "relatório"
for entry in "${behaviours[@]}"; do
  name=${entry%%|*} settings=${entry#*|}
  "$here/device_simulator/stop_device.sh" "$work/device" >/dev/null 2>&1 || true
  IFS=';' read -r -a words <<<"$settings"
  "$here/device_simulator/start_device.sh" --dir "$work/device" --binary "$device" \
    "${words[@]}" >/dev/null
  # shellcheck disable=SC1091
  source "$work/device/device.env"
  time_runs "$name" "$DEVICE_PASSWORD"
done
"$here/device_simulator/stop_device.sh" "$work/device" >/dev/null 2>&1 || true

# Real shells as the device's login shell: name|server|shell|options
shells=()
for server in sshd dropbear; do
  for shell in bash zsh dash ash mksh fish tcsh; do
    shells+=("$server $shell|$server|$shell|")
  done
done
shells+=(
  "sshd bash, profile 1 s|sshd|bash|--profile-delay;1"
  "sshd bash, profile 3 s|sshd|bash|--profile-delay;3"
  "sshd dash, profile 1 s|sshd|dash|--profile-delay;1"
  "sshd dash, profile 3 s|sshd|dash|--profile-delay;3"
  "dropbear dash, profile 1 s|dropbear|dash|--profile-delay;1"
  "dropbear dash, profile 3 s|dropbear|dash|--profile-delay;3"
  "sshd bash, message after the prompt|sshd|bash|--late-message"
  "sshd fish, message after the prompt|sshd|fish|--late-message"
  "dropbear dash, message after the prompt|dropbear|dash|--late-message"
)
shell_dir=""
stop_shell() {
  [ -z "$shell_dir" ] || "$here/device_shells/stop_shell_device.sh" "$shell_dir" >/dev/null 2>&1 || true
  shell_dir=""
}
trap 'stop_shell; rm -rf "$work"' EXIT
for at in "${!shells[@]}"; do
  IFS='|' read -r name server shell options <<<"${shells[$at]}"
  IFS=';' read -r -a words <<<"$options"
  shell_dir=$work/shell-$at
  "$here/device_shells/start_shell_device.sh" --dir "$shell_dir" --server "$server" \
    --shell "$shell" "${words[@]}" >/dev/null
  # shellcheck disable=SC1091
  source "$shell_dir/device.env"
  time_runs "$name" "$(cat "$DEVICE_PASSWORD_FILE")"
  stop_shell
done
