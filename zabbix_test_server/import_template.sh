#!/bin/bash
# Imports zabbix_template/cgnat_collector.yaml into the private test server
# through its API and creates each HOSTNAME linked to the template; returns
# once the server accepts values for them.
# Usage: [CGNAT_ZBX_STATE=STATE_DIR] import_template.sh HOSTNAME...
set -euo pipefail
source "$(dirname "$0")/lib.sh"

(($# > 0)) || die "uso: $0 HOSTNAME..."
STATE=${CGNAT_ZBX_STATE:-$DEFAULT_STATE_DIR}
[[ -f $STATE/env ]] || die "nenhum servidor de teste em $STATE: rode start.sh antes"
source "$STATE/env"
started=$SECONDS
# Hosts on the proxy take values only through its trapper.
port=$ZBX_TRAPPER_PORT
[[ -z ${CGNAT_ZBX_HOST_PROXY:-} ]] || port=${ZBX_PROXY_PORT:?"start_proxy.sh antes"}
python3 "$HERE/zabbix_api.py" "$ZBX_API_URL" import "$port" \
  "$HERE/../zabbix_template/cgnat_collector.yaml" "$@"
say "template importado em $((SECONDS - started)) s"
