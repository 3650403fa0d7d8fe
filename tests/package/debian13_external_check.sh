#!/usr/bin/env bash
# The Zabbix 7.0 server of the Debian 13 root runs the collector package
# installed there as the 7.0 template's external check, through the
# package's own /etc/zabbix/externalscripts link, against the device; all
# 36 values must reach the server's history. Run by debian13_test.sh while
# the package is installed.
# Usage: debian13_external_check.sh WORK_DIR DEVICE_ENV
set -euo pipefail
root_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$1
# shellcheck disable=SC1090
. "$2"
servers=$root_dir/zabbix_test_server
state=$work/zabbix
host=cgnat-debian13
export ZABBIX_RELEASE=7.0
root=${CGNAT_DEBIAN13_ROOT:-/var/cache/cgnat-collector/debian13-root}
link=$root/etc/zabbix/externalscripts/cgnat-collector

say() { printf '[debian13] %s\n' "$*" >&2; }
fail() {
  say "ERRO: $*"
  exit 1
}
cleanup() { bash "$servers/stop.sh" "$state" 2>/dev/null || true; }
trap cleanup EXIT

bash "$servers/debian13_zabbix.sh"
[[ $(readlink "$link") == /usr/bin/cgnat-collector ]] || fail "$link não leva ao coletor do pacote"
step=$SECONDS
CGNAT_ZBX_EXTERNAL_SCRIPTS=$(dirname "$link") bash "$servers/start.sh" "$state" 2>"$work/zabbix-start.log" ||
  { cat "$work/zabbix-start.log" >&2; fail "o servidor Zabbix 7.0 não subiu"; }
# The password goes to the API only, never to a log.
macros=$(DEVICE_PORT=$DEVICE_PORT DEVICE_USER=$DEVICE_USER DEVICE_PASSWORD=$DEVICE_PASSWORD python3 -c '
import json, os
print(json.dumps({"{$CGNAT.INTERVAL}": "10s", "{$CGNAT.SSH.PORT}": os.environ["DEVICE_PORT"],
                  "{$CGNAT.SSH.USER}": os.environ["DEVICE_USER"],
                  "{$CGNAT.SSH.PASSWORD}": os.environ["DEVICE_PASSWORD"]}))')
[[ $DEVICE_HOST == 127.0.0.1 ]] || fail "o dispositivo deve estar em 127.0.0.1 (a interface do host), não $DEVICE_HOST"
CGNAT_ZBX_STATE=$state CGNAT_ZBX_HOST_MACROS=$macros bash "$servers/import_template.sh" "$host" 2>>"$work/zabbix-start.log" ||
  { cat "$work/zabbix-start.log" >&2; fail "a importação do template 7.0 falhou"; }

# shellcheck disable=SC1091
. "$state/env"
query() {
  psql -h "$ZBX_PG_SOCKET_DIR" -p "$ZBX_PG_PORT" -U "$ZBX_PG_USER" -d "$ZBX_PG_DB" -X -A -t -v ON_ERROR_STOP=1 -c "$1"
}
# The values the tests expect of the sample device, "key|value" by key.
expected=$(sed -n 's/^ *{"\([A-Za-z]*\)", "\([0-9]*\)"}.*/\1|\2/p' "$root_dir/tests/support/sample_values.hpp" | LC_ALL=C sort)
(($(wc -l <<<"$expected") == 36)) || fail "tests/support/sample_values.hpp: esperados 36 valores"
# The first value of each trapper item, and the external item's
# "state|error|checks stored" (0||N with N > 0: supported, checks done).
stored_query="SELECT DISTINCT ON (i.key_) i.key_ || '|' || v.value FROM history_uint v
  JOIN items i USING (itemid) JOIN hosts h USING (hostid)
  WHERE h.host = '$host' AND i.type = 2 ORDER BY i.key_, v.clock, v.ns"
item_query="SELECT r.state || '|' || r.error || '|' || (SELECT count(*) FROM history_text t
  WHERE t.itemid = i.itemid) FROM items i JOIN hosts h USING (hostid) JOIN item_rtdata r
  USING (itemid) WHERE h.host = '$host' AND i.type = 10"
# The first check comes within one interval of the host's creation.
end=$((SECONDS + 60))
while :; do
  stored=$(query "$stored_query" | LC_ALL=C sort)
  item=$(query "$item_query")
  [[ $stored == "$expected" && $item =~ ^0\|\|[1-9] ]] && break
  ((SECONDS < end)) || {
    diff <(echo "$expected") <(echo "$stored") >&2 || true
    fail "o check externo (item: ${item:-ausente}) não gravou os 36 valores em 60 s (veja $state/zabbix_server.log)"
  }
  sleep 0.5
done
say "Zabbix 7.0 rodou o pacote como check externo: 36 valores gravados em $((SECONDS - step)) s"

# The background runs the checks started outlive the server: the package
# is purged once they have ended.
cleanup
trap - EXIT
package_runs() {
  local exe
  for exe in /proc/[0-9]*/exe; do
    [[ $(readlink "$exe" 2>/dev/null) == "$root/usr/bin/cgnat-collector" ]] && return 0
  done
  return 1
}
end=$((SECONDS + 30))
while package_runs; do
  ((SECONDS < end)) || fail "execuções do pacote ainda ativas 30 s após parar o servidor"
  sleep 0.2
done
