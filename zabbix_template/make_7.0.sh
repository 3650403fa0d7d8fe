#!/bin/bash
# Writes cgnat_collector_7.0.yaml, the Zabbix 7.0 form of cgnat_collector.yaml:
# a private Zabbix 7.0 server (zabbix_test_server, Debian 13 root) imports the
# 6.0 file, gives the external check its timeout and exports the template.
# Run after each change to cgnat_collector.yaml. A 6.0 file cannot carry that
# timeout: 7.0's import drops it from all items but HTTP agent and script,
# and 7.0 then bounds the check by the global 3 s for external checks.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# The check only starts the background run, in milliseconds; 30 s, the most
# 6.0's server-wide Timeout allowed, leaves room for a loaded server's fork
# and exec and never cuts off a launch that 6.0 would let finish.
timeout=30s
state=$(mktemp -d /tmp/cgnat-template70.XXXXXX)
chmod 755 "$state" # postgres runs as its own user
trap 'ZABBIX_RELEASE=7.0 "$here/../zabbix_test_server/stop.sh" "$state"; rm -rf "$state"' EXIT
ZABBIX_RELEASE=7.0 "$here/../zabbix_test_server/start.sh" "$state"
source "$state/env"
python3 "$here/../zabbix_test_server/zabbix_api.py" "$ZBX_API_URL" export \
  "$here/cgnat_collector.yaml" "$timeout" >"$here/cgnat_collector_7.0.yaml.new"
mv "$here/cgnat_collector_7.0.yaml.new" "$here/cgnat_collector_7.0.yaml"
echo "escrito: $here/cgnat_collector_7.0.yaml" >&2
