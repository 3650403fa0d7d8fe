#!/bin/bash
# Starts a private active Zabbix proxy (Debian's zabbix-proxy-sqlite3,
# unpacked, never installed: it conflicts with the server package) for the
# test server of STATE_DIR, of that server's release, registered there as
# NAME (default cgnat-proxy) and, with GROUP (7.0), as a member of that proxy
# group (made if missing). Its pollers run the external checks in
# CGNAT_ZBX_EXTERNAL_SCRIPTS, if set.
# Tuning for many hosts (defaults in brackets): CGNAT_ZBX_PROXY_POLLERS [1],
# CGNAT_ZBX_PROXY_TRAPPERS [2], CGNAT_ZBX_PROXY_CONFIG_FREQUENCY [1] and
# CGNAT_ZBX_PROXY_DATA_SENDER_FREQUENCY [1] seconds, CGNAT_ZBX_TIMEOUT [3],
# CGNAT_ZBX_PROXY_CACHE_SIZE [Zabbix's 8M: about 200 hosts of the template],
# CGNAT_ZBX_PROXY_HISTORY_CACHE_SIZE [16M] and
# CGNAT_ZBX_PROXY_HISTORY_INDEX_CACHE_SIZE [4M: under 1,000 hosts],
# CGNAT_ZBX_PROXY_DB_SYNCERS [1], CGNAT_ZBX_PROXY_PREPROCESSORS [1].
# Usage: start_proxy.sh [STATE_DIR [NAME [GROUP]]]   (after start.sh)
set -euo pipefail
source "$(dirname "$0")/lib.sh"

STATE=${1:-$DEFAULT_STATE_DIR}
NAME=${2:-$ZBX_PROXY_NAME}
GROUP=${3:-}
[[ -f $STATE/env ]] || die "nenhum servidor de teste em $STATE: rode start.sh antes"
source "$STATE/env"
ZABBIX_RELEASE=$ZBX_RELEASE release_settings
started=$SECONDS
if [[ -n $ZBX_ROOT ]]; then
  PROXY=$ZBX_PROXY_DIR/usr/sbin/zabbix_proxy
  SCHEMA=$ZBX_ROOT$ZBX_PROXY_DIR/usr/share/zabbix-proxy-sqlite3/schema.sql.gz
else
  PROXY=$(proxy_root)/usr/sbin/zabbix_proxy
  SCHEMA=$(proxy_root)/usr/share/zabbix-proxy-sqlite3/schema.sql.gz
fi

DIR=$STATE/proxy
[[ $NAME == "$ZBX_PROXY_NAME" ]] || DIR=$STATE/proxy-$NAME
rm -rf "$DIR" && mkdir -p "$DIR"
SOCK=$(mktemp -d /tmp/zbxp.XXXXXX)
# One transaction: far faster than the proxy building the database itself.
{ echo 'BEGIN;'; zcat "$SCHEMA"; echo 'COMMIT;'; } | sqlite3 "$DIR/proxy.db"

if [[ $ZBX_RELEASE == 6.0 ]]; then
  release_settings=("ConfigFrequency=${CGNAT_ZBX_PROXY_CONFIG_FREQUENCY:-1}")
else
  release_settings=("ProxyConfigFrequency=${CGNAT_ZBX_PROXY_CONFIG_FREQUENCY:-1}"
    StartAgentPollers=0 StartHTTPAgentPollers=0 StartSNMPPollers=0 StartBrowserPollers=0)
fi
in_root "$STATE" $(external_dirs "${CGNAT_ZBX_EXTERNAL_SCRIPTS:-}")

for attempt in 1 2 3; do
  port=$(free_port)
  # A group's proxy is registered with the address its redirects name.
  python3 "$HERE/zabbix_api.py" "$ZBX_API_URL" proxy "$NAME" ${GROUP:+"$GROUP" "$port"}
  cat >"$DIR/zabbix_proxy.conf" <<CONF
Server=127.0.0.1:$ZBX_TRAPPER_PORT
Hostname=$NAME
ListenIP=127.0.0.1
ListenPort=$port
SocketDir=$SOCK
PidFile=$SOCK/zabbix_proxy.pid
TmpDir=$SOCK
LogType=file
LogFile=$DIR/zabbix_proxy.log
DBName=$DIR/proxy.db
AllowRoot=1
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
CONF
  printf '%s\n' "${release_settings[@]}" >>"$DIR/zabbix_proxy.conf"
  optional_setting "$DIR/zabbix_proxy.conf" CacheSize CGNAT_ZBX_PROXY_CACHE_SIZE
  optional_setting "$DIR/zabbix_proxy.conf" HistoryCacheSize CGNAT_ZBX_PROXY_HISTORY_CACHE_SIZE
  optional_setting "$DIR/zabbix_proxy.conf" HistoryIndexCacheSize CGNAT_ZBX_PROXY_HISTORY_INDEX_CACHE_SIZE
  external_setting "${CGNAT_ZBX_EXTERNAL_SCRIPTS:-}" >>"$DIR/zabbix_proxy.conf"
  # The collector the pollers start delivers to this proxy's trapper.
  CGNAT_ZABBIX_SERVER=127.0.0.1:$port setsid "${IN_ROOT[@]}" "$PROXY" -f -c "$DIR/zabbix_proxy.conf" \
    >>"$DIR/zabbix_proxy.out" 2>&1 </dev/null &
  proxy=$!
  if retry_for 30 bash -c "kill -0 $proxy && ss -Hltn 'sport = :$port' | grep -q ."; then
    break
  fi
  alive "$proxy" && die "zabbix_proxy não abriu a porta $port em 30 s (veja $DIR/zabbix_proxy.log)"
  ((attempt < 3)) || die "zabbix_proxy terminou ao iniciar (veja $DIR/zabbix_proxy.log)"
done

# stop.sh stops every proxy by its own env file.
cat >"$DIR/env" <<EOF
PROXY_PID=$proxy
PROXY_SOCKET_DIR=$SOCK
EOF
# The latest proxy's, for tests and benchmarks; each member of a group also
# by its name.
cat >>"$STATE/env" <<EOF
ZBX_PROXY_PID=$proxy
ZBX_PROXY_PORT=$port
ZBX_PROXY_BIN=$PROXY
ZBX_PROXY_CONF=$DIR/zabbix_proxy.conf
ZBX_PROXY_PORT_${NAME//[^A-Za-z0-9]/_}=$port
EOF
say "proxy $NAME pronto em $((SECONDS - started)) s: trapper 127.0.0.1:$port"
