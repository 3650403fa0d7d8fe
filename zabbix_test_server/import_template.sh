#!/bin/bash
# Imports zabbix_template/cgnat_collector.yaml (cgnat_collector_7.0.yaml on
# 7.0) into the private test server
# through its API and creates each HOSTNAME linked to the template; returns
# once the server accepts values for them.
# Usage: [CGNAT_ZBX_STATE=STATE_DIR] import_template.sh HOSTNAME...
# CGNAT_ZBX_HOST_PROXY or CGNAT_ZBX_HOST_PROXY_GROUP: who monitors them.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

(($# > 0)) || die "uso: $0 HOSTNAME..."
STATE=${CGNAT_ZBX_STATE:-$DEFAULT_STATE_DIR}
[[ -f $STATE/env ]] || die "nenhum servidor de teste em $STATE: rode start.sh antes"
source "$STATE/env"
started=$SECONDS
# Hosts on a proxy take values only through its trapper; on a proxy group
# (7.0), through the trapper of the member that owns them.
port=$ZBX_TRAPPER_PORT
if [[ -n ${CGNAT_ZBX_HOST_PROXY:-} ]]; then
  port_name=ZBX_PROXY_PORT_${CGNAT_ZBX_HOST_PROXY//[^A-Za-z0-9]/_}
  port=${!port_name:?"start_proxy.sh antes"}
elif [[ -n ${CGNAT_ZBX_HOST_PROXY_GROUP:-} ]]; then
  port=$(sed -n 's/^ZBX_PROXY_PORT_[A-Za-z0-9_]*=//p' "$STATE/env" | paste -sd,)
  [[ -n $port ]] || die "nenhum proxy em $STATE: start_proxy.sh antes"
fi
# 7.0 takes its own form of the template: a 6.0 file loses the external
# check's timeout there (zabbix_template/make_7.0.sh).
template=$HERE/../zabbix_template/cgnat_collector.yaml
[[ ${ZBX_RELEASE:-6.0} == 6.0 ]] || template=$HERE/../zabbix_template/cgnat_collector_7.0.yaml
python3 "$HERE/zabbix_api.py" "$ZBX_API_URL" import "$port" "$template" "$@"
say "template importado em $((SECONDS - started)) s"
