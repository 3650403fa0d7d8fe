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
python3 "$HERE/zabbix_api.py" "$ZBX_API_URL" import "$ZBX_TRAPPER_PORT" \
  "$HERE/../zabbix_template/cgnat_collector.yaml" "$@"
say "template importado em $((SECONDS - started)) s"
