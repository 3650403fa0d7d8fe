#!/usr/bin/env bash
# The main job, end to end on this machine: builds the collector, starts the
# simulated CGNAT device (a real sshd) and a private real Zabbix server with
# the template imported, runs the collector once in debug mode and once in
# delivery mode, shows what Zabbix stored, and stops what it started.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${CGNAT_BUILD_DIR:-$root/build}
host=cgnat-demo

step() { printf '\n\033[1m== %s\033[0m\n' "$*" >&2; }

step "Instalando o que falta (apt-get)"
bash scripts/setup.sh

step "Compilando"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target cgnat-collector cgnat-device >&2

state=$(mktemp -d /tmp/cgnat-quickstart.XXXXXX)
chmod 755 "$state"
cleanup() {
  step "Parando o equipamento simulado e o servidor Zabbix"
  device_simulator/stop_device.sh "$state/device" || true
  zabbix_test_server/stop.sh "$state/zabbix" || true
  rm -rf "$state"
}
trap cleanup EXIT

step "Iniciando o equipamento CGNAT simulado (sshd em 127.0.0.1)"
device_simulator/start_device.sh --dir "$state/device" \
  --binary "$build/device_simulator/cgnat-device" >/dev/null
source "$state/device/device.env"
echo "equipamento: $DEVICE_USER@$DEVICE_HOST:$DEVICE_PORT" >&2

step "Iniciando um servidor Zabbix 6.0 privado e importando o template"
zabbix_test_server/start.sh "$state/zabbix"
CGNAT_ZBX_STATE="$state/zabbix" zabbix_test_server/import_template.sh "$host"
source "$state/zabbix/env"

collector=("$build/LINUX/cgnat-collector" discoveryLinux "$DEVICE_HOST"
  "$DEVICE_PORT" "$DEVICE_USER" "$DEVICE_PASSWORD")

step "Modo debug: cgnat-collector discoveryLinux $DEVICE_HOST $DEVICE_PORT $DEVICE_USER ***** debug"
"${collector[@]}" debug

step "Modo de envio: ... $host (CGNAT_ZABBIX_SERVER=$ZBX_TRAPPER_ADDRESS)"
status=0
CGNAT_ZABBIX_SERVER=$ZBX_TRAPPER_ADDRESS "${collector[@]}" "$host" || status=$?
echo "status de saída: $status" >&2

step "O que o Zabbix guardou para o host $host"
psql=(psql -h "$ZBX_PG_SOCKET_DIR" -p "$ZBX_PG_PORT" -U "$ZBX_PG_USER" -d "$ZBX_PG_DB"
  -X -A -t -F ' = ' -v ON_ERROR_STOP=1)
query="SELECT i.key_, v.value FROM items i JOIN hosts h USING (hostid)
  JOIN (SELECT itemid, value::text, clock, ns FROM history_uint
        UNION ALL SELECT itemid, value::text, clock, ns FROM history
        UNION ALL SELECT itemid, value, clock, ns FROM history_str
        UNION ALL SELECT itemid, value, clock, ns FROM history_text) v USING (itemid)
  WHERE h.host = '$host' ORDER BY v.clock, v.ns, i.itemid"
# The history writer stores values about a second after they arrive.
for attempt in $(seq 1 100); do
  stored=$("${psql[@]}" -c "$query")
  [ "$(printf '%s\n' "$stored" | grep -c ' = ')" -ge 36 ] && break
  sleep 0.2
done
printf '%s\n' "$stored"
count=$(printf '%s\n' "$stored" | grep -c ' = ' || true)
echo "$count valores guardados" >&2
[ "$status" -eq 0 ] && [ "$count" -eq 36 ]
