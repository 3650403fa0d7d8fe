#!/usr/bin/env bash
# The template's dashboard as an operator sees it: the collector runs several
# times against the simulated device (its counters growing between runs) and
# a private real Zabbix server with the template imported; headless chromium
# logs in to the frontend, opens the host's template dashboard and saves a
# screenshot, which must show every graph with data.
# Usage: dashboard_screenshot.sh BUILD_DIR [PNG]   (PNG: where to keep it)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?uso: $0 BUILD_DIR [PNG]}" && pwd)
keep=${2:-$build/dashboard.png}
host=cgnat-dashboard
runs=${CGNAT_SHOT_RUNS:-6}
pause=${CGNAT_SHOT_PAUSE:-8}

say() { printf '[dashboard] %s\n' "$*" >&2; }
browser=$(command -v chromium || true)
[[ -n $browser ]] || { say "ERRO: chromium não instalado (scripts/setup.sh)"; exit 1; }

state=$(mktemp -d /tmp/cgnat-dashboard.XXXXXX)
chmod 755 "$state"
cleanup() {
  "$root/device_simulator/stop_device.sh" "$state/device" || true
  "$root/zabbix_test_server/stop.sh" "$state/zabbix" || true
  rm -rf "$state"
}
trap cleanup EXIT

"$root/device_simulator/start_device.sh" --dir "$state/device" \
  --binary "$build/device_simulator/cgnat-device" --user cgnatdash \
  --password Dash-device-2024 >/dev/null # own user: other tests reset theirs
source "$state/device/device.env"
"$root/zabbix_test_server/start.sh" "$state/zabbix"
CGNAT_ZBX_STATE="$state/zabbix" "$root/zabbix_test_server/import_template.sh" "$host"
source "$state/zabbix/env"

# Run N's device output: the samples with every counter grown by an uneven
# step, so rates differ from one interval to the next.
device_output() {
  python3 - "$root/device_simulator/samples" "$DEVICE_DIR" "$1" <<'PY'
import re, sys
samples, out, run = sys.argv[1], sys.argv[2], int(sys.argv[3])
step = lambda base: base * (run * 3 + (run * run) % 5)
summary = {"Active sessions": lambda v: v + 900 * run + 400 * (run % 2),
           "Sessions created": lambda v: v + step(5000),
           "Sessions destroyed": lambda v: v + step(4700),
           "Used": lambda v: v + 40 * run,
           "Translated packets": lambda v: v + step(2000000),
           "Translated bytes": lambda v: v + step(1500000000),
           "Unknown source addr or port": lambda v: v + step(3),
           "CGNAT session allocation failures": lambda v: v + step(2),
           "Thread contention errors": lambda v: v + step(1)}
def grow_summary(line):
    for label, grow in summary.items():
        m = re.match(r"(\s+%s\s+~?)(\d+)$" % re.escape(label), line)
        if m:
            return m.group(1) + str(grow(int(m.group(2))))
    return line
def grow_errors(line, index=[0]):
    m = re.match(r"(\s+\S.*?\s{2,})(\d+)(\s+)(\d+)$", line)
    if not m:
        return line
    index[0] += 1
    k = index[0]
    return "%s%d%s%d" % (m.group(1), int(m.group(2)) + step(k % 4 + 1),
                         m.group(3), int(m.group(4)) + step((k + 2) % 3 + 1))
for name, grow in (("summary", grow_summary), ("errors", grow_errors)):
    with open(f"{samples}/{name}.txt") as f:
        lines = [grow(l.rstrip("\n")) for l in f]
    with open(f"{out}/{name}.txt.new", "w") as f:
        f.write("\n".join(lines) + "\n")
PY
  for name in summary errors; do mv "$DEVICE_DIR/$name.txt.new" "$DEVICE_DIR/$name.txt"; done
}

runs_started=$SECONDS
for run in $(seq 1 "$runs"); do
  device_output "$run"
  CGNAT_ZABBIX_SERVER=$ZBX_TRAPPER_ADDRESS "$build/LINUX/cgnat-collector" discoveryLinux \
    "$DEVICE_HOST" "$DEVICE_PORT" "$DEVICE_USER" "$DEVICE_PASSWORD" "$host" >/dev/null
  ((run == runs)) || sleep "$pause"
done

psql=(psql -h "$ZBX_PG_SOCKET_DIR" -p "$ZBX_PG_PORT" -U "$ZBX_PG_USER" -d "$ZBX_PG_DB" -XAt -v ON_ERROR_STOP=1)
# Every rate item holds a value for each interval but the first.
rates_ready() {
  "${psql[@]}" -c "SELECT count(*) FROM items i JOIN hosts h USING (hostid)
    WHERE h.host = '$host' AND i.type = 18 AND
      (SELECT count(*) FROM history WHERE itemid = i.itemid) < $((runs - 1))" | grep -qx 0
}
for _ in $(seq 1 100); do rates_ready && break; sleep 0.2; done
rates_ready || { say "ERRO: itens por segundo sem valores após $runs coletas"; exit 1; }
say "$runs coletas; todos os itens por segundo com $((runs - 1)) valores ou mais"

read -r hostid dashboardid < <(python3 "$root/zabbix_test_server/zabbix_api.py" "$ZBX_API_URL" dashboard "$host")
# The graphs span the runs, in whole minutes (the frontend's unit).
minutes=$(((SECONDS - runs_started) / 60 + 1))
front=${ZBX_API_URL%/api_jsonrpc.php}
page="zabbix.php?action=host.dashboard.view&hostid=$hostid&dashboardid=$dashboardid&from=now-${minutes}m&to=now&kiosk=1"
login="$front/index.php?enter=Sign+in&name=Admin&password=zabbix&request=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$page")"
shot=$state/dashboard.png
HOME=$state timeout 120 "$browser" --headless --no-sandbox --disable-gpu --hide-scrollbars \
  --user-data-dir="$state/browser" --window-size=1600,1250 --virtual-time-budget=20000 \
  --screenshot="$shot" "$login" >"$state/browser.log" 2>&1 ||
  { cat "$state/browser.log" >&2; say "ERRO: chromium falhou"; exit 1; }
mkdir -p "$(dirname "$keep")"
cp "$shot" "$keep" # kept for a look even when the check fails
say "captura em $keep"
python3 "$root/tests/end_to_end/graph_pixels.py" "$keep"
