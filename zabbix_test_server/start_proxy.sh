#!/bin/bash
# Starts a private active Zabbix 6.0 proxy (Debian's zabbix-proxy-sqlite3,
# unpacked, never installed: it conflicts with the server package) for the
# test server of STATE_DIR, registered there as cgnat-proxy. Its pollers run
# the external checks in CGNAT_ZBX_EXTERNAL_SCRIPTS, if set.
# Tuning for many hosts (defaults in brackets): CGNAT_ZBX_PROXY_POLLERS [1],
# CGNAT_ZBX_PROXY_TRAPPERS [2], CGNAT_ZBX_PROXY_CONFIG_FREQUENCY [1] and
# CGNAT_ZBX_PROXY_DATA_SENDER_FREQUENCY [1] seconds, CGNAT_ZBX_TIMEOUT [3],
# CGNAT_ZBX_PROXY_CACHE_SIZE [Zabbix's 8M: about 200 hosts of the template],
# CGNAT_ZBX_PROXY_HISTORY_CACHE_SIZE [16M] and
# CGNAT_ZBX_PROXY_HISTORY_INDEX_CACHE_SIZE [4M: under 1,000 hosts],
# CGNAT_ZBX_PROXY_DB_SYNCERS [1], CGNAT_ZBX_PROXY_PREPROCESSORS [1].
# Usage: start_proxy.sh [STATE_DIR]   (after start.sh)
set -euo pipefail
source "$(dirname "$0")/lib.sh"

STATE=${1:-$DEFAULT_STATE_DIR}
[[ -f $STATE/env ]] || die "nenhum servidor de teste em $STATE: rode start.sh antes"
source "$STATE/env"
started=$SECONDS
PROXY=$(proxy_root)/usr/sbin/zabbix_proxy
SCHEMA=$(proxy_root)/usr/share/zabbix-proxy-sqlite3/schema.sql.gz

python3 "$HERE/zabbix_api.py" "$ZBX_API_URL" proxy "$ZBX_PROXY_NAME"
DIR=$STATE/proxy
rm -rf "$DIR" && mkdir -p "$DIR"
SOCK=$(mktemp -d /tmp/zbxp.XXXXXX)
# One transaction: far faster than the proxy building the database itself.
{ echo 'BEGIN;'; zcat "$SCHEMA"; echo 'COMMIT;'; } | sqlite3 "$DIR/proxy.db"

for attempt in 1 2 3; do
  port=$(free_port)
  cat >"$DIR/zabbix_proxy.conf" <<EOF
Server=127.0.0.1:$ZBX_TRAPPER_PORT
Hostname=$ZBX_PROXY_NAME
ListenIP=127.0.0.1
ListenPort=$port
SocketDir=$SOCK
PidFile=$SOCK/zabbix_proxy.pid
TmpDir=$SOCK
LogType=file
LogFile=$DIR/zabbix_proxy.log
DBName=$DIR/proxy.db
AllowRoot=1
ConfigFrequency=${CGNAT_ZBX_PROXY_CONFIG_FREQUENCY:-1}
DataSenderFrequency=${CGNAT_ZBX_PROXY_DATA_SENDER_FREQUENCY:-1}
HousekeepingFrequency=0
StartDBSyncers=${CGNAT_ZBX_PROXY_DB_SYNCERS:-1}
StartPreprocessors=${CGNAT_ZBX_PROXY_PREPROCESSORS:-1}
StartTrappers=${CGNAT_ZBX_PROXY_TRAPPERS:-2}
StartPollers=${CGNAT_ZBX_PROXY_POLLERS:-1}
StartPollersUnreachable=1
StartPingers=0
StartDiscoverers=0
StartHTTPPollers=0
Timeout=${CGNAT_ZBX_TIMEOUT:-3}
EOF
  optional_setting "$DIR/zabbix_proxy.conf" CacheSize CGNAT_ZBX_PROXY_CACHE_SIZE
  optional_setting "$DIR/zabbix_proxy.conf" HistoryCacheSize CGNAT_ZBX_PROXY_HISTORY_CACHE_SIZE
  optional_setting "$DIR/zabbix_proxy.conf" HistoryIndexCacheSize CGNAT_ZBX_PROXY_HISTORY_INDEX_CACHE_SIZE
  optional_setting "$DIR/zabbix_proxy.conf" ExternalScripts CGNAT_ZBX_EXTERNAL_SCRIPTS
  # The collector the pollers start delivers to this proxy's trapper.
  CGNAT_ZABBIX_SERVER=127.0.0.1:$port setsid "$PROXY" -f -c "$DIR/zabbix_proxy.conf" \
    >>"$DIR/zabbix_proxy.out" 2>&1 </dev/null &
  proxy=$!
  if retry_for 30 bash -c "kill -0 $proxy && ss -Hltn 'sport = :$port' | grep -q ."; then
    break
  fi
  alive "$proxy" && die "zabbix_proxy não abriu a porta $port em 30 s (veja $DIR/zabbix_proxy.log)"
  ((attempt < 3)) || die "zabbix_proxy terminou ao iniciar (veja $DIR/zabbix_proxy.log)"
done

cat >>"$STATE/env" <<EOF
ZBX_PROXY_PID=$proxy
ZBX_PROXY_PORT=$port
ZBX_PROXY_SOCKET_DIR=$SOCK
ZBX_PROXY_BIN=$PROXY
ZBX_PROXY_CONF=$DIR/zabbix_proxy.conf
EOF
say "proxy pronto em $((SECONDS - started)) s: trapper 127.0.0.1:$port"
