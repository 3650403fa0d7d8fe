# shellcheck shell=bash
# Shared pieces of the benchmark scripts (sourced, not run; the argument tags
# the messages), and the checks before a run against the simulated device.
bench_tag=${1:?tag}

say() { printf '[%s] %s\n' "$bench_tag" "$*" >&2; }
die() {
  say "ERRO: $*"
  exit 2
}

# Root, and the collector and the simulated device built in $1.
require_build() {
  [ "$(id -u)" = 0 ] || die "rode como root (o dispositivo simulado cria um usuário e um sshd)"
  local program
  for program in "$1/LINUX/cgnat-collector" "$1/device_simulator/cgnat-device"; do
    [ -x "$program" ] || die "falta $program: compile os alvos cgnat-collector e cgnat-device em $1"
  done
}
