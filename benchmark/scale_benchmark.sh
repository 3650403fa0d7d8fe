#!/bin/bash
# Scale benchmark: N hosts linked to the template on one real Zabbix 6.0
# proxy, each host its own simulated device address (127.10.x.y), checked
# every minute by the proxy's pollers, which start the collector as the
# template's external check. For each N, in ascending order on the same
# server and proxy (hosts are added), it measures MINUTES whole minutes and
# prints per minute: runs started (device logins) and completed, values
# expected and stored, lost and duplicated, the slowest run, peak concurrent
# runs and their memory, and the CPU split between the collector, the
# simulated device and Zabbix (scale_sampler.py says how it is counted).
# Exits 1 when any step lost or duplicated a value. Run as root; takes about
# (MINUTES + 1.5) minutes per N. Not part of the test suite.
#
# scale_benchmark.sh [--minutes M] [--sha512] [--pollers P] [--build DIR] [N...]
#   N: host counts (default 100 500 1000); --minutes: per N (3; 1 for a
#   quick look); --sha512: the device's password hashed with SHA-512
#   instead of yescrypt; --pollers: the proxy's StartPollers (8).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
minutes=3
hash_option=()
pollers=8
counts=()
while (($#)); do
  case $1 in
    --minutes) minutes=$2; shift 2 ;;
    --sha512) hash_option=(--hash SHA512); shift ;;
    --pollers) pollers=$2; shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    -*) echo "uso: $0 [--minutes M] [--sha512] [--pollers P] [--build DIR] [N...]" >&2; exit 2 ;;
    *) counts+=("$1"); shift ;;
  esac
done
((${#counts[@]})) || counts=(100 500 1000)
collector=$build/LINUX/cgnat-collector
device_bin=$build/device_simulator/cgnat-device
prefix=cgnat-scale-
proxy_name=cgnat-proxy # start_proxy.sh registers it so

# shellcheck source-path=SCRIPTDIR source=common.sh
source "$here/benchmark/common.sh" escala
require_build "$build"
previous=0
for n in "${counts[@]}"; do
  if ! [[ $n =~ ^[0-9]+$ ]] || ((n <= previous || n > 9999)); then
    die "contagens de hosts crescentes de 1 a 9999, não '$n'"
  fi
  previous=$n
done

work=$(mktemp -d /tmp/cgnat-scale.XXXXXX)
chmod 755 "$work" # the device's user reads its files below
state=$work/zabbix
sampler=
# shellcheck disable=SC2317 # called by the EXIT trap
cleanup() {
  local rc=$?
  [ -z "$sampler" ] || kill "$sampler" 2>/dev/null || true
  "$here/zabbix_test_server/stop.sh" "$state" >/dev/null 2>&1 || true
  "$here/device_simulator/stop_device.sh" "$work/device" >/dev/null 2>&1 || true
  if [ "$rc" = 0 ]; then
    rm -rf "$work"
  else
    say "logs do proxy, do servidor e do sshd ficam em $work"
  fi
}
trap cleanup EXIT

# One sshd serves every address: a connection per run, many at once.
"$here/device_simulator/start_device.sh" --dir "$work/device" --binary "$device_bin" \
  --user cgnatscale --all-loopback --max-startups 2000:30:4000 \
  "${hash_option[@]+"${hash_option[@]}"}" >/dev/null
# shellcheck disable=SC1091
source "$work/device/device.env"
say "dispositivo simulado: porta $DEVICE_PORT em todo 127.0.0.0/8, senha com ${hash_option[1]:-yescrypt}"

# Zabbix's default caches hold about 200 hosts of the template; the test
# server's one-second configuration sync would starve its history syncers.
CGNAT_ZBX_TRAPPERS=4 CGNAT_ZBX_CACHE_SIZE=256M CGNAT_ZBX_VALUE_CACHE_SIZE=64M \
  CGNAT_ZBX_TREND_CACHE_SIZE=64M CGNAT_ZBX_HISTORY_CACHE_SIZE=64M \
  CGNAT_ZBX_HISTORY_INDEX_CACHE_SIZE=64M CGNAT_ZBX_CACHE_UPDATE_FREQUENCY=30 \
  CGNAT_ZBX_DB_SYNCERS=2 CGNAT_ZBX_PREPROCESSORS=2 \
  "$here/zabbix_test_server/start.sh" "$state"
# shellcheck disable=SC1091
source "$state/env"
scripts=$work/externalscripts
mkdir -p "$scripts"
ln -s "$collector" "$scripts/cgnat-collector"

# The sampler starts the proxy, so the runs the proxy leaves behind are its
# to reap and count.
: >"$work/samples"
CGNAT_ZBX_EXTERNAL_SCRIPTS=$scripts CGNAT_ZBX_PROXY_POLLERS=$pollers \
  CGNAT_ZBX_PROXY_TRAPPERS=4 CGNAT_ZBX_PROXY_CONFIG_FREQUENCY=3600 \
  CGNAT_ZBX_PROXY_CACHE_SIZE=256M CGNAT_ZBX_PROXY_HISTORY_CACHE_SIZE=64M \
  CGNAT_ZBX_PROXY_HISTORY_INDEX_CACHE_SIZE=64M CGNAT_ZBX_PROXY_DB_SYNCERS=2 \
  CGNAT_ZBX_PROXY_PREPROCESSORS=2 HOME=$work \
  python3 "$here/benchmark/scale_sampler.py" "$work/samples" "$work/device/sshd.log" \
  "$DEVICE_PID" "$ZBX_SERVER_PID" "$ZBX_POSTGRES_PID" "$ZBX_PHP_PID" "$state/env" \
  -- "$here/zabbix_test_server/start_proxy.sh" "$state" &
sampler=$!
end=$((SECONDS + 60))
until [ -s "$work/samples" ]; do
  kill -0 "$sampler" 2>/dev/null || die "o amostrador terminou ao iniciar o proxy"
  ((SECONDS < end)) || die "o proxy não subiu em 60 s"
  sleep 0.2
done
# shellcheck disable=SC1091
source "$state/env"
api() { python3 "$here/zabbix_test_server/zabbix_api.py" "$ZBX_API_URL" "$@"; }
api template "$here/zabbix_template/cgnat_collector.yaml"

export ZBX_PG_SOCKET_DIR ZBX_PG_PORT ZBX_PG_USER ZBX_PG_DB
# shellcheck disable=SC2016 # Zabbix macros, not shell expansions
macros=$(printf '{"{$CGNAT.INTERVAL}": "1m", "{$CGNAT.SSH.PORT}": "%s", "{$CGNAT.SSH.USER}": "%s", "{$CGNAT.SSH.PASSWORD}": "%s"}' \
  "$DEVICE_PORT" "$DEVICE_USER" "$DEVICE_PASSWORD")
status=0
created=0
for n in "${counts[@]}"; do
  pairs=()
  for ((i = created + 1; i <= n; i++)); do
    pairs+=("$(printf '%s%04d=127.10.%d.%d' "$prefix" "$i" $((i / 250)) $((i % 250 + 1)))")
  done
  began=$SECONDS
  CGNAT_ZBX_HOST_MACROS=$macros CGNAT_ZBX_HOST_PROXY=$proxy_name api link "${pairs[@]}"
  created=$n
  # The proxy checks an item once its configuration holds it. With many
  # hosts on a busy machine one configuration sync takes minutes, and a
  # proxy that synced every few seconds (1,000 hosts: 12.7 MB each time)
  # would do little else, so it syncs hourly, Zabbix's default, and is asked
  # now (and each minute until the hosts are in).
  end=$((SECONDS + 600))
  asked=-60
  until (($(sqlite3 -cmd '.timeout 5000' "$state/proxy/proxy.db" \
    "SELECT count(*) FROM items WHERE type = 10" 2>/dev/null || echo 0) >= n)); do
    ((SECONDS < end)) || die "o proxy não recebeu os $n hosts em 600 s"
    if ((SECONDS - asked >= 60)); then
      "$ZBX_PROXY_BIN" -c "$ZBX_PROXY_CONF" -R config_cache_reload >/dev/null
      asked=$SECONDS
    fi
    sleep 1
  done
  say "$n hosts no proxy em $((SECONDS - began)) s"
  now=$(date +%s)
  t0=$(((now + 5 + 59) / 60 * 60))
  finish=$((t0 + 60 * minutes))
  say "medindo de $(date -u -d "@$t0" +%H:%M:%S) a $(date -u -d "@$finish" +%H:%M:%S) UTC"
  # A proxy or server that dies ends the measure at once, with its last words.
  while (($(date +%s) < finish)); do
    if ! kill -0 "$ZBX_PROXY_PID" 2>/dev/null; then
      tail -5 "$state/proxy/zabbix_proxy.log" >&2
      die "o proxy terminou durante a medição"
    fi
    if ! kill -0 "$ZBX_SERVER_PID" 2>/dev/null; then
      tail -5 "$state/zabbix_server.log" >&2
      die "o servidor Zabbix terminou durante a medição"
    fi
    sleep 5
  done
  python3 "$here/benchmark/scale_report.py" "$work/samples" "$t0" "$minutes" "$n" "$prefix" ||
    status=1
done
exit $status
