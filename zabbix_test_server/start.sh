#!/bin/bash
# Starts a private Zabbix server (PostgreSQL, zabbix_server, php -S for the
# API) on loopback and writes STATE_DIR/env for tests to source.
# Usage: [ZABBIX_RELEASE=6.0|7.0] start.sh [STATE_DIR]
#   (default /var/tmp/cgnat-zabbix-state; 6.0 by default, 7.0 runs Debian
#   13's packages in the Debian 13 root: see lib.sh)
# With CGNAT_ZBX_TLS_CA_FILE, CGNAT_ZBX_TLS_CERT_FILE and CGNAT_ZBX_TLS_KEY_FILE
# set, the server also takes certificate connections (make_tls_files.sh).
# CGNAT_ZBX_TRAPPERS: the server's StartTrappers (2); proxies deliver there.
# CGNAT_ZBX_CACHE_SIZE, CGNAT_ZBX_VALUE_CACHE_SIZE, CGNAT_ZBX_TREND_CACHE_SIZE,
# CGNAT_ZBX_HISTORY_CACHE_SIZE, CGNAT_ZBX_HISTORY_INDEX_CACHE_SIZE: its
# CacheSize, ValueCacheSize, TrendCacheSize, HistoryCacheSize and
# HistoryIndexCacheSize (Zabbix's defaults), for many hosts.
# CGNAT_ZBX_CACHE_UPDATE_FREQUENCY [1 s, for tests], CGNAT_ZBX_DB_SYNCERS [1],
# CGNAT_ZBX_PREPROCESSORS [1]: with a thousand hosts one configuration sync
# takes seconds and a sync every second starves the history syncers.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

STATE=$(mkdir -p "${1:-$DEFAULT_STATE_DIR}" && cd "${1:-$DEFAULT_STATE_DIR}" && pwd)
ENV_FILE=$STATE/env
started=$SECONDS

if [[ -f $ENV_FILE ]]; then
  source "$ENV_FILE"
  if alive "$ZBX_SERVER_PID" && alive "$ZBX_POSTGRES_PID" && alive "$ZBX_PHP_PID" &&
    retry_for 5 zabbix_sender -z 127.0.0.1 -p "$ZBX_TRAPPER_PORT" -s cgnat-ready -k ready -o 1; then
    say "servidor já em execução em $STATE (trapper 127.0.0.1:$ZBX_TRAPPER_PORT)"
    exit 0
  fi
  say "restos de uma execução anterior em $STATE: parando"
  "$HERE/stop.sh" "$STATE"
fi
release_settings # the env file's release was the earlier run's

# The freshly imported database, cached per package version: the import
# itself takes 15 s or more, a copy of its data directory well under one.
version=$(server_version)
SNAPSHOT=$CACHE_DIR/zabbix-${version//[^0-9A-Za-z.]/_}-pg$(basename "$(dirname "$PG_BIN")")-v1.tar
pg_owner=$(user_ids postgres)
make_snapshot() { # runs in a subshell: its variables and trap stay there
  php='' pg='' php_port=''
  work=$(mktemp -d "$CACHE_DIR/build.XXXXXX")
  sock=$(mktemp -d /tmp/zbxs.XXXXXX)
  chown "$pg_owner" "$work" "$sock"
  trap 'stop_pid "$php" "php -S 127.0.0.1:$php_port"; stop_pid "$pg" "$work/pgdata" INT; rm -rf "$work" "$sock"' EXIT
  say "criando o instantâneo do banco (uma vez): $SNAPSHOT"
  in_root "$work"
  "${IN_ROOT[@]}" setpriv --reuid=postgres --regid=postgres --init-groups -- \
    "$PG_BIN/initdb" -D "$work/pgdata" -U "$ZBX_DB_USER" --auth=trust -E UTF8 \
    --locale=C >"$work/initdb.log"
  pg=$(start_postgres "$work/pgdata" "$sock")
  local psql=(psql -h "$sock" -p "$ZBX_PG_PORT" -U "$ZBX_DB_USER" -q -v ON_ERROR_STOP=1)
  "${psql[@]}" -d postgres -c "CREATE DATABASE $ZBX_DB"
  for part in schema images data; do
    say "importando $part.sql.gz"
    zcat "$ZBX_ROOT$ZBX_SCHEMA/$part.sql.gz" | "${psql[@]}" -d "$ZBX_DB" >/dev/null
  done
  php_port=$(free_port)
  php=$(start_php "$php_port" "$sock" "$work/php.log")
  python3 "$HERE/zabbix_api.py" "http://127.0.0.1:$php_port/api_jsonrpc.php" ready-host
  stop_pid "$php" "php -S 127.0.0.1:$php_port"
  stop_pid "$pg" "$work/pgdata" INT
  tar -C "$work" -cf "$work/snapshot.tar" pgdata
  mv "$work/snapshot.tar" "$SNAPSHOT"
}
mkdir -p "$CACHE_DIR"
(
  flock 9
  if [[ ! -f $SNAPSHOT ]]; then make_snapshot; fi # not "||": keeps set -e
) 9>"$CACHE_DIR/lock"

SOCK=$(mktemp -d /tmp/zbx.XXXXXX) # short: unix socket paths stop at 108 bytes
pids=()
cleanup_on_error() {
  say "falha ao iniciar; parando o que já tinha subido"
  trap - EXIT
  for pid in "${pids[@]}"; do kill -TERM -- "$pid" 2>/dev/null || true; done
  rm -rf "$SOCK"
}
trap cleanup_on_error EXIT # die exits without raising ERR

rm -rf "$STATE/pgdata" "$STATE"/*.log
tar -C "$STATE" -xf "$SNAPSHOT"
chown -R "$pg_owner" "$STATE/pgdata" "$SOCK"
chmod 755 "$SOCK"
pg=$(start_postgres "$STATE/pgdata" "$SOCK")
pids+=("$pg")

# CGNAT_ZBX_EXTERNAL_SCRIPTS=DIR: the server's pollers run the external
# checks found in DIR, with CGNAT_ZBX_TIMEOUT (default 3) seconds as bound;
# on 7.0 a DIR inside the root is the root's own (lib.sh, inside_root).
pollers=0
external=()
if [[ -n ${CGNAT_ZBX_EXTERNAL_SCRIPTS:-} ]]; then
  pollers=1
  external=("$(external_setting "$CGNAT_ZBX_EXTERNAL_SCRIPTS")" "Timeout=${CGNAT_ZBX_TIMEOUT:-3}")
fi
# 7.0's new poller kinds, none wanted here.
release_pollers=()
[[ $ZBX_RELEASE == 6.0 ]] || release_pollers=(StartAgentPollers=0 StartHTTPAgentPollers=0
  StartSNMPPollers=0 StartBrowserPollers=0 StartConnectors=0)
# The server in the root sees its files, the external checks and the
# collector they lead to at their own paths.
in_root "$STATE" $(external_dirs "${CGNAT_ZBX_EXTERNAL_SCRIPTS:-}") \
  ${CGNAT_ZBX_TLS_CERT_FILE:+"$(dirname "$CGNAT_ZBX_TLS_CA_FILE")" "$(dirname "$CGNAT_ZBX_TLS_CERT_FILE")" "$(dirname "$CGNAT_ZBX_TLS_KEY_FILE")"}

# Another instance may take the port between the check and the bind: retry.
for attempt in 1 2 3; do
  port=$(free_port)
  cat >"$STATE/zabbix_server.conf" <<EOF
ListenIP=127.0.0.1
ListenPort=$port
SocketDir=$SOCK
PidFile=$SOCK/zabbix_server.pid
LogType=file
LogFile=$STATE/zabbix_server.log
DBHost=$SOCK
DBPort=$ZBX_PG_PORT
DBName=$ZBX_DB
DBUser=$ZBX_DB_USER
AllowRoot=1
CacheUpdateFrequency=${CGNAT_ZBX_CACHE_UPDATE_FREQUENCY:-1}
StartDBSyncers=${CGNAT_ZBX_DB_SYNCERS:-1}
HousekeepingFrequency=0
StartTrappers=${CGNAT_ZBX_TRAPPERS:-2}
StartPreprocessors=${CGNAT_ZBX_PREPROCESSORS:-1}
StartPollers=$pollers
StartPollersUnreachable=$pollers
StartHistoryPollers=0
StartPingers=0
StartDiscoverers=0
StartHTTPPollers=0
StartTimers=1
StartEscalators=1
StartAlerters=1
StartLLDProcessors=1
StartODBCPollers=0
StartProxyPollers=0
EOF
  optional_setting "$STATE/zabbix_server.conf" CacheSize CGNAT_ZBX_CACHE_SIZE
  optional_setting "$STATE/zabbix_server.conf" ValueCacheSize CGNAT_ZBX_VALUE_CACHE_SIZE
  optional_setting "$STATE/zabbix_server.conf" TrendCacheSize CGNAT_ZBX_TREND_CACHE_SIZE
  optional_setting "$STATE/zabbix_server.conf" HistoryCacheSize CGNAT_ZBX_HISTORY_CACHE_SIZE
  optional_setting "$STATE/zabbix_server.conf" HistoryIndexCacheSize CGNAT_ZBX_HISTORY_INDEX_CACHE_SIZE
  ((${#external[@]} == 0)) || printf '%s\n' "${external[@]}" >>"$STATE/zabbix_server.conf"
  ((${#release_pollers[@]} == 0)) || printf '%s\n' "${release_pollers[@]}" >>"$STATE/zabbix_server.conf"
  if [[ -n ${CGNAT_ZBX_TLS_CERT_FILE:-} ]]; then
    printf 'TLSCAFile=%s\nTLSCertFile=%s\nTLSKeyFile=%s\n' "$CGNAT_ZBX_TLS_CA_FILE" \
      "$CGNAT_ZBX_TLS_CERT_FILE" "$CGNAT_ZBX_TLS_KEY_FILE" >>"$STATE/zabbix_server.conf"
  fi
  # The collector the pollers start delivers to this server's trapper.
  CGNAT_ZABBIX_SERVER=127.0.0.1:$port setsid "${IN_ROOT[@]}" zabbix_server -f -c "$STATE/zabbix_server.conf" >>"$STATE/zabbix_server.out" 2>&1 </dev/null &
  zbx=$!
  pids+=("-$zbx")
  if retry_for 30 bash -c "kill -0 $zbx && zabbix_sender -z 127.0.0.1 -p $port -s cgnat-ready -k ready -o 1 | grep -q 'processed: 1'"; then
    break
  fi
  alive "$zbx" && die "zabbix_server não aceitou valores em 30 s (veja $STATE/zabbix_server.log)"
  ((attempt < 3)) || die "zabbix_server terminou ao iniciar (veja $STATE/zabbix_server.log)"
  say "zabbix_server terminou ao iniciar na porta $port; tentando outra porta"
done

php_port=$(free_port)
php=$(start_php "$php_port" "$SOCK" "$STATE/php.log")
pids+=("$php")

cat >"$ENV_FILE.tmp" <<EOF
ZBX_RELEASE=$ZBX_RELEASE
ZBX_STATE_DIR=$STATE
ZBX_TRAPPER_PORT=$port
ZBX_TRAPPER_ADDRESS=127.0.0.1:$port
ZBX_API_URL=http://127.0.0.1:$php_port/api_jsonrpc.php
ZBX_PG_SOCKET_DIR=$SOCK
ZBX_PG_PORT=$ZBX_PG_PORT
ZBX_PG_DB=$ZBX_DB
ZBX_PG_USER=$ZBX_DB_USER
ZBX_SERVER_PID=$zbx
ZBX_POSTGRES_PID=$pg
ZBX_PHP_PID=$php
EOF
mv "$ENV_FILE.tmp" "$ENV_FILE"
trap - EXIT
say "pronto em $((SECONDS - started)) s: trapper 127.0.0.1:$port, API 127.0.0.1:$php_port, estado em $STATE"
