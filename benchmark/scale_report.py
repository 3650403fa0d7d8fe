#!/usr/bin/env python3
"""Per-minute figures of one scale benchmark step; run by scale_benchmark.sh.

  scale_report.py SAMPLES T0 MINUTES HOSTS PREFIX

SAMPLES is scale_sampler.py's output, T0 the first measured minute (epoch
seconds, a multiple of 60), HOSTS the number of hosts PREFIX0001... measured.
The database comes from ZBX_PG_SOCKET_DIR, ZBX_PG_PORT, ZBX_PG_USER and
ZBX_PG_DB. Prints one line per minute and a summary; exits 1 unless every
expected value was stored exactly once.

Zabbix checks an item with a fixed interval at the same second of every
interval, its itemid modulo the interval, so each host's runs fall into
slots of one minute that start at its own second: a run belongs to the
minute its slot starts in, and every value of a run to that slot, however
late it arrives within the minute. Exactly one value per slot, host and
key is right; none is a lost value, more are duplicates.
"""
import json
import os
import subprocess
import sys
import time

ITEMS_PER_RUN = 36
GROUPS = ("collector", "launch", "device", "server", "proxy", "postgres", "php")


def psql(query):
    out = subprocess.run(
        ["psql", "-h", os.environ["ZBX_PG_SOCKET_DIR"], "-p",
         os.environ["ZBX_PG_PORT"], "-U", os.environ["ZBX_PG_USER"], "-d",
         os.environ["ZBX_PG_DB"], "-X", "-A", "-t", "-q", "-F", " ", "-v",
         "ON_ERROR_STOP=1", "-c", query],
        check=True, capture_output=True, text=True).stdout
    return [line.split() for line in out.splitlines() if line]


def per_slot(t0, minutes, hosts, prefix):
    last = f"{prefix}{hosts:04d}"
    rows = psql(f"""
      WITH hs AS (
        SELECT h.hostid, (SELECT min(e.itemid) FROM items e
                          WHERE e.hostid = h.hostid AND e.type = 10) % 60 AS phase
        FROM hosts h WHERE h.host LIKE '{prefix}%' AND h.host <= '{last}'),
      ti AS (SELECT i.itemid, hs.hostid, hs.phase FROM items i JOIN hs USING (hostid)
             WHERE i.type = 2),
      vals AS (
        SELECT v.itemid, floor((v.clock - {t0} - ti.phase) / 60.0)::int AS k,
               v.clock + v.ns / 1e9 - ({t0} + ti.phase) AS late
        FROM history_uint v JOIN ti USING (itemid)
        WHERE v.clock >= {t0 - 60} AND v.clock < {t0 + 60 * minutes + 120}),
      counted AS (
        SELECT ti.hostid, ti.itemid, g.k, count(v.itemid) AS n,
               max(v.late - 60 * g.k) AS late
        FROM ti CROSS JOIN generate_series(0, {minutes - 1}) AS g(k)
        LEFT JOIN vals v ON v.itemid = ti.itemid AND v.k = g.k
        GROUP BY ti.hostid, ti.itemid, g.k),
      runs AS (SELECT k, hostid, min(n) AS least FROM counted GROUP BY k, hostid)
      SELECT c.k, count(*), sum(n), count(*) FILTER (WHERE n = 0),
             coalesce(sum(n - 1) FILTER (WHERE n > 1), 0),
             (SELECT count(*) FROM runs r WHERE r.k = c.k AND r.least >= 1),
             coalesce(max(late), 0)
      FROM counted c GROUP BY c.k ORDER BY c.k""")
    return {int(r[0]): [int(x) for x in r[1:6]] + [float(r[6])] for r in rows}


def unsupported(prefix):
    return int(psql(f"""SELECT count(*) FROM item_rtdata r JOIN items i USING (itemid)
      JOIN hosts h USING (hostid) WHERE h.host LIKE '{prefix}%' AND i.type = 10
      AND r.state = 1""")[0][0])


def samples_at(samples, moment):
    """The first sample taken at or after moment (cumulative figures)."""
    for sample in samples:
        if sample["t"] >= moment:
            return sample
    return samples[-1]


def main(argv):
    path, t0, minutes, hosts, prefix = argv[1], int(argv[2]), int(argv[3]), \
        int(argv[4]), argv[5]
    with open(path) as f:
        samples = [json.loads(line) for line in f if line.strip()]
    # A slot's last values come up to a minute after it starts, plus the
    # proxy's delivery: wait until all are in, or 75 s. A pause in the
    # count is no sign of the end on a saturated machine.
    finish = t0 + 60 * minutes
    while True:
        slots = per_slot(t0, minutes, hosts, prefix)
        stored = sum(row[1] for row in slots.values())
        if time.time() >= finish + 75 or (
                time.time() >= finish + 10 and
                stored >= minutes * hosts * ITEMS_PER_RUN):
            break
        time.sleep(2)
    print(f"== {hosts} hosts, {minutes} min a partir de "
          f"{t0 // 3600 % 24:02d}:{t0 // 60 % 60:02d} UTC ==")
    print("min  logins  concl.  esperados  gravados perd. dupl.  mais_lenta_s"
          "  vida_max_s  pico_exec pico_procs  RSS_MiB  CPU_s: coletor disp."
          " zabbix(srv/prx/pg/php)  máquina")
    totals = {"expected": 0, "stored": 0, "lost": 0, "dup": 0, "done": 0,
              "logins": 0, "cpu": dict.fromkeys(GROUPS + ("sampler",), 0.0),
              "busy": 0.0, "late": 0.0, "life": 0.0, "runs": 0, "rss": 0}
    for k in range(minutes):
        start, end = t0 + 60 * k, t0 + 60 * (k + 1)
        a, b = samples_at(samples, start), samples_at(samples, end)
        inside = [s for s in samples if start < s["t"] <= end] or [b]
        cpu = {g: b["cpu"][g] - a["cpu"][g] for g in a["cpu"]}
        zabbix = sum(cpu[g] for g in ("server", "proxy", "postgres", "php"))
        expected, stored, lost, dup, done, late = slots.get(
            k, [hosts * ITEMS_PER_RUN, 0, hosts * ITEMS_PER_RUN, 0, 0, 0.0])
        peak_runs = max(s["runs"] for s in inside)
        peak_procs = max(s["procs"] for s in inside)
        rss = max(s["rss_kib"] for s in inside)
        life = max(s["slowest"] for s in inside)
        logins = b["logins"] - a["logins"]
        busy = b["busy"] - a["busy"]
        print(f"{k + 1:3d} {logins:7d} {done:7d} {expected:10d} {stored:9d} "
              f"{lost:5d} {dup:5d} {late:13.2f} {life:11.2f} {peak_runs:10d} "
              f"{peak_procs:10d} {rss / 1024:8.1f} {cpu['collector']:14.1f} "
              f"{cpu['device']:5.1f} {zabbix:6.1f}({cpu['server']:.1f}/"
              f"{cpu['proxy']:.1f}/{cpu['postgres']:.1f}/{cpu['php']:.1f})"
              f" {busy:8.1f}")
        for key, value in (("expected", expected), ("stored", stored),
                           ("lost", lost), ("dup", dup), ("done", done),
                           ("logins", logins)):
            totals[key] += value
        for g in cpu:
            totals["cpu"][g] += cpu[g]
        totals["busy"] += busy
        totals["late"] = max(totals["late"], late)
        totals["life"] = max(totals["life"], life)
        totals["runs"] = max(totals["runs"], peak_runs)
        totals["rss"] = max(totals["rss"], rss)
    bad = unsupported(prefix)
    # Every run that logged in cost its CPU, whether its values arrived or not.
    runs = max(totals["logins"], 1)
    cpu = totals["cpu"]
    zabbix = sum(cpu[g] for g in ("server", "proxy", "postgres", "php"))
    seconds = 60.0 * minutes
    print(f"total: {totals['stored']} de {totals['expected']} valores "
          f"(perdidos {totals['lost']}, duplicados {totals['dup']}); "
          f"{totals['done']} execuções completas, {totals['logins']} logins; "
          f"itens externos não suportados: {bad}")
    print(f"execução mais lenta: {totals['late']:.2f} s do horário agendado ao"
          f" último valor; vida máxima de uma execução {totals['life']:.2f} s;"
          f" pico {totals['runs']} execuções simultâneas, "
          f"{totals['rss'] / 1024:.1f} MiB de RSS do coletor")
    print(f"CPU por execução iniciada (login): coletor {cpu['collector'] / runs * 1000:.1f} ms"
          f" (lançamento pelo poller {cpu['launch'] / runs * 1000:.1f}),"
          f" dispositivo {cpu['device'] / runs * 1000:.1f} ms, zabbix "
          f"{zabbix / runs * 1000:.1f} ms (servidor "
          f"{cpu['server'] / runs * 1000:.1f}, proxy "
          f"{cpu['proxy'] / runs * 1000:.1f}, postgres "
          f"{cpu['postgres'] / runs * 1000:.1f}, php "
          f"{cpu['php'] / runs * 1000:.1f})")
    print(f"uso médio dos 2 núcleos: coletor {cpu['collector'] / seconds:.2f},"
          f" dispositivo {cpu['device'] / seconds:.2f}, zabbix "
          f"{zabbix / seconds:.2f}, amostrador {cpu['sampler'] / seconds:.2f};"
          f" máquina inteira {totals['busy'] / seconds:.2f} (inclui outros "
          "trabalhos)")
    ok = (totals["lost"] == 0 and totals["dup"] == 0 and bad == 0 and
          totals["stored"] == totals["expected"])
    print("resultado: " + ("sustentado, nenhum valor perdido" if ok else
                           "NÃO sustentado"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
