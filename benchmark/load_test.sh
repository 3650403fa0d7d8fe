#!/bin/bash
# Load test: RUNS collector runs started at once, as Zabbix starts them
# (launch_discoveryLinux, each returning at once), against one simulated
# device and one private real Zabbix server, each run under its own Zabbix
# host. Checks that every run's 36 values were stored exactly once, prints
# runs per minute and the failure count, and exits 1 unless every value
# arrived. Starts and stops its own device and server. Run as root.
#
# load_test.sh [BUILD_DIR]   (default: build/ of this repository)
# CGNAT_LOAD_RUNS: number of runs (100); CGNAT_LOAD_DEVICE: device settings
# separated by spaces (e.g. "fault=drop drop_after=3"), to see failures counted.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
runs=${CGNAT_LOAD_RUNS:-100}
collector="$build/LINUX/cgnat-collector"
device_bin="$build/device_simulator/cgnat-device"
items_per_run=36
bound=330 # the collector's own bound (300 s) and a margin

# shellcheck source-path=SCRIPTDIR source=common.sh
source "$here/benchmark/common.sh" carga
require_build "$build"

work=$(mktemp -d /tmp/cgnat-load.XXXXXX)
chmod 755 "$work" # the device's user reads its files below
state="$work/zabbix"
# shellcheck disable=SC2317 # called by the EXIT trap
cleanup() {
  if [ -n "${log_listener:-}" ]; then
    kill "$log_listener" 2>/dev/null || true
    rm -f /dev/log
  fi
  "$here/device_simulator/stop_device.sh" "$work/device" >/dev/null 2>&1 || true
  "$here/zabbix_test_server/stop.sh" "$state" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# The one simulated device takes all 100 logins at once on these same cores,
# where a real one takes one per interval. Its default yescrypt hash costs
# about 0.1 s of CPU per login; SHA-512 keeps the device's share small, so
# the test weighs the collector and the server.
# shellcheck disable=SC2086 # one word per setting
"$here/device_simulator/start_device.sh" --dir "$work/device" --binary "$device_bin" \
  --hash SHA512 ${CGNAT_LOAD_DEVICE:-} >/dev/null
# shellcheck disable=SC1091
source "$work/device/device.env"
say "dispositivo simulado em $DEVICE_HOST:$DEVICE_PORT"

"$here/zabbix_test_server/start.sh" "$state"
# shellcheck disable=SC1091
source "$state/env"
hosts=()
for i in $(seq -f '%03g' 1 "$runs"); do hosts+=("cgnat-load-$i"); done
CGNAT_ZBX_STATE=$state "$here/zabbix_test_server/import_template.sh" "${hosts[@]}"

psql_rows() {
  psql -h "$ZBX_PG_SOCKET_DIR" -p "$ZBX_PG_PORT" -U "$ZBX_PG_USER" -d "$ZBX_PG_DB" \
    -X -A -t -q -v ON_ERROR_STOP=1 -c "$1"
}
# Every value stored for the load hosts' trapper items (all unsigned).
load_values="FROM history_uint v JOIN items i USING (itemid) JOIN hosts h USING (hostid)
  WHERE h.host LIKE 'cgnat-load-%' AND i.type=2"

# Starts every run, waits until each launch returned and then until every
# background run it left ended (this process adopts them), all within the
# bound. Prints the launch time (epoch seconds) and the launch failures.
launch_all() {
  python3 - "$bound" "$collector" "$DEVICE_HOST" "$DEVICE_PORT" "$DEVICE_USER" "${hosts[@]}" <<'PY'
import ctypes, os, subprocess, sys, threading, time

bound, collector, host, port, user = sys.argv[1:6]
zabbix_hosts = sys.argv[6:]
PR_SET_CHILD_SUBREAPER = 36
if ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1) != 0:
    sys.exit("prctl(PR_SET_CHILD_SUBREAPER) falhou")
password = os.environ.pop("CGNAT_LOAD_PASSWORD")
end = time.monotonic() + float(bound)

started = time.time()
failed = 0
slowest = 0.0
lock = threading.Lock()


def launch(name):
    """One external check: must return at once, saying nothing."""
    global failed, slowest
    begun = time.monotonic()
    check = subprocess.run(
        [collector, "launch_discoveryLinux", host, port, user, password, name],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    with lock:
        slowest = max(slowest, time.monotonic() - begun)
        if check.returncode != 0 or check.stdout:
            failed += 1


threads = [threading.Thread(target=launch, args=(name,)) for name in zabbix_hosts]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
print(f"[carga] {len(threads)} lançamentos feitos em {time.time() - started:.2f} s; "
      f"o mais lento levou {slowest:.2f} s para retornar", file=sys.stderr)

# What is left are the background runs and their log relays.
endings = {}
while True:
    try:
        pid, status = os.waitpid(-1, os.WNOHANG)
    except ChildProcessError:
        break
    if pid != 0 and status != 0:
        ending = (f"sinal {os.WTERMSIG(status)}" if os.WIFSIGNALED(status)
                  else f"status {os.waitstatus_to_exitcode(status)}")
        endings[ending] = endings.get(ending, 0) + 1
    if pid == 0:
        if time.monotonic() > end:
            print(f"[carga] execuções ainda ativas após {bound} s",
                  file=sys.stderr)
            failed = len(zabbix_hosts)
            break
        time.sleep(0.05)
print(f"[carga] execuções em segundo plano encerradas {time.time() - started:.2f} s "
      "após o primeiro lançamento", file=sys.stderr)
for ending, count in sorted(endings.items()):
    print(f"[carga] {count} processo(s) em segundo plano terminaram com {ending}",
          file=sys.stderr)
print(f"{started:.6f} {failed}")
PY
}

# The background runs report to the system log. Where the machine has none
# (a bare container), this test serves /dev/log itself, so a failed run's
# own words reach the test's output.
run_log="$work/system.log"
log_listener=
if [ ! -e /dev/log ]; then
  python3 - "$run_log" <<'PY' &
import os, socket, sys
listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
listener.bind("/dev/log")
os.chmod("/dev/log", 0o666)
with open(sys.argv[1], "ab", buffering=0) as out:
    while True:
        out.write(listener.recv(65536).rstrip(b"\n") + b"\n")
PY
  log_listener=$!
  for _ in $(seq 50); do [ -S /dev/log ] && break; sleep 0.1; done
fi

say "lançando $runs execuções de uma vez"
read -r launched launch_failures < <(
  HOME="$work" CGNAT_ZABBIX_SERVER=$ZBX_TRAPPER_ADDRESS CGNAT_LOAD_PASSWORD=$DEVICE_PASSWORD launch_all
)
[ -n "${launch_failures:-}" ] || die "o lançamento das execuções falhou"

# The values reach the history tables a moment after the server took them.
expected=$((runs * items_per_run))
end=$((SECONDS + 30))
while :; do
  stored=$(psql_rows "SELECT count(*) $load_values")
  ((stored >= expected || SECONDS >= end)) && break
  sleep 0.2
done
# Once a value sent now is stored, so is everything received before it.
marker=$(date +%s%N)
zabbix_sender -z 127.0.0.1 -p "$ZBX_TRAPPER_PORT" -s cgnat-ready -k ready -o "$marker" >/dev/null
end=$((SECONDS + 30))
until [ -n "$(psql_rows "SELECT 1 FROM history_uint v JOIN items i USING (itemid) JOIN hosts h USING (hostid)
  WHERE h.host='cgnat-ready' AND i.key_='ready' AND v.value=$marker")" ]; do
  ((SECONDS < end)) || die "o servidor não gravou o marcador em 30 s"
  sleep 0.2
done

# Per host and key: how many values (exactly one each is right), and per
# key how many different values the runs delivered (one: the device's).
read -r stored lost duplicated failed_runs differing last < <(psql_rows "
  WITH wanted AS (
    SELECT h.host, i.key_, i.itemid FROM items i JOIN hosts h USING (hostid)
    WHERE h.host LIKE 'cgnat-load-%' AND i.type=2),
  counted AS (
    SELECT w.host, w.key_, count(v.itemid) AS n
    FROM wanted w LEFT JOIN history_uint v USING (itemid) GROUP BY w.host, w.key_)
  SELECT (SELECT coalesce(sum(n), 0) FROM counted),
         (SELECT count(*) FROM counted WHERE n = 0),
         (SELECT coalesce(sum(n - 1), 0) FROM counted WHERE n > 1),
         (SELECT count(DISTINCT host) FROM counted WHERE n <> 1),
         (SELECT count(*) FROM (SELECT i.key_ $load_values
            GROUP BY i.key_ HAVING count(DISTINCT v.value) > 1) d),
         (SELECT coalesce(max(v.clock + v.ns / 1e9), 0) $load_values)" |
  tr '|' ' ')
items=$(psql_rows "SELECT count(*) FROM items i JOIN hosts h USING (hostid)
  WHERE h.host LIKE 'cgnat-load-%' AND i.type=2")
((items == expected)) || die "os hosts têm $items itens trapper, esperados $expected"

failures=$((failed_runs > launch_failures ? failed_runs : launch_failures))
elapsed=$(awk -v a="$launched" -v b="$last" 'BEGIN { printf "%.2f", (b > a) ? b - a : 0 }')
per_minute=$(awk -v n="$runs" -v t="$elapsed" 'BEGIN { printf "%.0f", (t > 0) ? n / t * 60 : 0 }')
echo "valores gravados: $stored de $expected (perdidos: $lost, duplicados: $duplicated)"
echo "chaves com valores diferentes entre as execuções: $differing"
echo "execuções com falha: $failures de $runs (lançamentos recusados: $launch_failures)"
echo "do primeiro lançamento ao último valor gravado: $elapsed s"
echo "execuções por minuto: $per_minute"
if ((stored == expected && lost == 0 && duplicated == 0 && failures == 0 && differing == 0)); then
  exit 0
fi
# The runs' own words first: a failing test's output may be cut short.
if [ -s "$run_log" ]; then
  say "o que as execuções disseram ao log do sistema, fora \"OK\" (contagem e linha):"
  sed -n 's/^<[0-9]*>[A-Z][a-z][a-z] [ 0-9][0-9] [0-9:]* //p' "$run_log" |
    grep '^cgnat-collector' | sed 's/^cgnat-collector\[[0-9]*\]: //' |
    grep -vx 'OK' | sort | uniq -c | sort -rn | head -40 >&2 || true
fi
if [ -s "$work/device/sshd.log" ]; then
  say "avisos do sshd do dispositivo simulado (contagem e linha):"
  grep -iE 'error|fatal|refus|drop|fail|timeout|limit' "$work/device/sshd.log" |
    sed 's/\[[0-9]*\]//; s/port [0-9]*/port N/g' | sort | uniq -c | sort -rn | head -20 >&2 || true
fi
say "hosts com valores faltando ou repetidos (valores gravados de $items_per_run):"
psql_rows "SELECT h.host || ': ' || count(v.itemid) FROM items i JOIN hosts h USING (hostid)
  LEFT JOIN history_uint v USING (itemid) WHERE h.host LIKE 'cgnat-load-%' AND i.type=2
  GROUP BY h.host HAVING count(v.itemid) <> $items_per_run ORDER BY h.host LIMIT 20" >&2 || true
exit 1
