#!/bin/bash
# Stops the private Zabbix test server of STATE_DIR by the pids in its env
# file (php -S, zabbix_server with its children, postgres) and removes its
# sockets and database copy; the logs stay for a look afterwards.
# Usage: stop.sh [STATE_DIR]
set -euo pipefail
source "$(dirname "$0")/lib.sh"

STATE=${1:-$DEFAULT_STATE_DIR}
ENV_FILE=$STATE/env
if [[ ! -f $ENV_FILE ]]; then
  say "nada a parar em $STATE (sem arquivo env)"
  exit 0
fi
source "$ENV_FILE"
# Each pattern names this instance only, so a reused pid is left alone.
api=${ZBX_API_URL#http://}
stop_pid "$ZBX_PHP_PID" "php -S ${api%%/*}"
for proxy_dir in "$ZBX_STATE_DIR"/proxy "$ZBX_STATE_DIR"/proxy-*; do
  [[ -f $proxy_dir/env ]] || continue
  source "$proxy_dir/env"
  stop_pid "$PROXY_PID" "$proxy_dir/zabbix_proxy.conf" TERM group
  case $PROXY_SOCKET_DIR in /tmp/zbxp.*) rm -rf "$PROXY_SOCKET_DIR" ;; esac
  rm -f "$proxy_dir/env"
done
stop_pid "$ZBX_SERVER_PID" "$ZBX_STATE_DIR/zabbix_server.conf" TERM group
stop_pid "$ZBX_POSTGRES_PID" "$ZBX_STATE_DIR/pgdata" INT
case $ZBX_PG_SOCKET_DIR in /tmp/zbx.*) rm -rf "$ZBX_PG_SOCKET_DIR" ;; esac
rm -rf "$STATE/pgdata" "$ENV_FILE"
say "parado: $STATE"
