#!/usr/bin/env python3
"""Samples a scale benchmark's processes; started by scale_benchmark.sh.

  scale_sampler.py OUT SSHD_LOG DEVICE_PID SERVER_PID POSTGRES_PID PHP_PID \\
      PROXY_ENV -- COMMAND...

Becomes a child subreaper, runs COMMAND (start_proxy.sh), then reads the
proxy's pid from PROXY_ENV. The collector's background runs and their log
relays leave their parents at once, so they end up here: each is reaped with
its resource usage, which counts every CPU tick it used. Writes one JSON line
a second to OUT, every figure cumulative since the start except the peaks,
which cover that second:

- cpu: seconds per group. Each group's figure is the sum over its live
  processes of utime+stime+cutime+cstime (a child that ends moves into its
  parent's cutime, so nothing is lost between samples), plus, for the
  collector, the reaped background runs. A poller's own time is the
  proxy's; its children's (cutime, cstime) are the external checks, i.e. the
  collector's foreground launches: "launch" holds that part of "collector".
- logins: "Accepted" lines in the device's sshd log (one per run).
- busy: the whole machine's busy CPU seconds, from /proc/stat.
- runs, procs, rss_kib: peak concurrent background runs, all collector
  processes and their summed RSS, sampled every 100 ms.
- slowest: the longest-living background run reaped in that second.
"""
import ctypes
import json
import os
import re
import subprocess
import sys
import time

PR_SET_CHILD_SUBREAPER = 36
TICK = os.sysconf("SC_CLK_TCK")
PAGE_KIB = os.sysconf("SC_PAGE_SIZE") // 1024
# The background run execs /proc/self/exe, which names it "exe".
COLLECTOR = {"cgnat-collector", "exe"}
# A poller's child starts as a copy of it, then execs sh or the collector.
MAY_CHANGE = COLLECTOR | {"zabbix_proxy", "sh"}


def stat(pid):
    """(comm, ppid, cpu ticks incl. reaped children, start tick, rss pages)"""
    with open(f"/proc/{pid}/stat", "rb") as f:
        raw = f.read().decode(errors="replace")
    comm = raw[raw.index("(") + 1:raw.rindex(")")]
    rest = raw[raw.rindex(")") + 2:].split()
    # rest[0] is field 3 (state): utime is field 14, starttime 22, rss 24.
    return (comm, int(rest[1]), sum(int(x) for x in rest[11:15]),
            (int(rest[11]) + int(rest[12]), int(rest[13]) + int(rest[14])),
            int(rest[19]), int(rest[21]))


def cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().split(b"\0")
    except OSError:
        return []


def machine_busy():
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    return (sum(fields) - fields[3] - fields[4]) / TICK  # minus idle, iowait


def boot_time():
    with open("/proc/stat") as f:
        for line in f:
            if line.startswith("btime "):
                return int(line.split()[1])
    return 0


def main(argv):
    out_path, sshd_log = argv[1], argv[2]
    roots = dict(zip(("device", "server", "postgres", "php"),
                     (int(p) for p in argv[3:7])))
    proxy_env, command = argv[7], argv[argv.index("--") + 1:]
    if ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1):
        sys.exit("prctl(PR_SET_CHILD_SUBREAPER) falhou")
    subprocess.run(command, check=True)
    with open(proxy_env) as f:
        roots["proxy"] = int(re.findall(r"^ZBX_PROXY_PID=(\d+)$", f.read(),
                                        re.M)[-1])
    me, btime = os.getpid(), boot_time()
    reaped = 0.0  # CPU seconds of background runs and relays reaped here
    starts = {}  # background run pid -> start (epoch seconds)
    log = open(sshd_log, "rb")
    logins = 0
    out = open(out_path, "a", buffering=1)
    peak = {"runs": 0, "procs": 0, "rss_kib": 0}
    slowest = 0.0
    settled = set()
    pollers = set()
    next_line = time.time()
    while True:
        now = time.time()
        # The collector's processes: orphans reparented here, and the
        # pollers' children (a check between fork and exec is one too).
        # Between the CPU passes only processes that are or may become
        # the collector's are read again.
        full = now >= next_line
        runs = procs = rss = 0
        table = {}
        listed = [int(name) for name in os.listdir("/proc") if name.isdigit()]
        for pid in listed:
            if not full and pid in settled:
                continue
            try:
                table[pid] = stat(pid)
            except (OSError, ValueError, IndexError):
                continue
            if table[pid][0] not in MAY_CHANGE:
                settled.add(pid)
        if full:
            settled &= set(listed)
        checks = set()  # this proxy's external checks and what they fork
        for pid, (comm, ppid, _, _, start, pages) in sorted(table.items()):
            if ppid in pollers or ppid in checks:
                checks.add(pid)
            if comm not in COLLECTOR or not (ppid == me or pid in checks):
                continue
            procs += 1
            rss += pages * PAGE_KIB
            if ppid == me:
                words = cmdline(pid)
                if len(words) > 1 and b"launch_" not in words[1]:
                    runs += 1
                    starts.setdefault(pid, btime + start / TICK)
        peak = {"runs": max(peak["runs"], runs),
                "procs": max(peak["procs"], procs),
                "rss_kib": max(peak["rss_kib"], rss)}
        while True:
            try:
                pid, _, usage = os.wait4(-1, os.WNOHANG)
            except ChildProcessError:
                break
            if pid == 0:
                break
            if pid != roots["proxy"]:
                reaped += usage.ru_utime + usage.ru_stime
            if pid in starts:
                slowest = max(slowest, time.time() - starts.pop(pid))
        logins += log.read().count(b"Accepted ")
        if full:
            group = {pid: None for pid in table}
            for root, pid in roots.items():
                if pid in group:
                    group[pid] = root
            ticks = {name: 0 for name in
                     ("collector", "launch", "device", "server", "proxy",
                      "postgres", "php")}

            def owner(pid, depth=0):
                if pid not in group or depth > 50:
                    return None
                if group[pid] is None:
                    parent = table[pid][1]
                    found = owner(parent, depth + 1)
                    if found == "proxy" and (
                            table[pid][0] in COLLECTOR or
                            b"poller #" in b" ".join(cmdline(parent))):
                        found = "check"  # an external check and below
                    group[pid] = found or "other"
                return group[pid]

            found_pollers = set()
            for pid, (comm, ppid, total, (own, children), _, _) in \
                    table.items():
                name = owner(pid)
                if name == "check":
                    ticks["launch"] += total
                elif comm in COLLECTOR and ppid == me:
                    ticks["collector"] += total
                elif name == "proxy" and b"poller #" in b" ".join(
                        cmdline(pid)):
                    found_pollers.add(pid)
                    ticks["proxy"] += own
                    ticks["launch"] += children
                elif name in ticks:
                    ticks[name] += total
            pollers = found_pollers
            cpu = {name: value / TICK for name, value in ticks.items()}
            cpu["collector"] += reaped + cpu["launch"]
            self_cpu = os.times()
            cpu["sampler"] = self_cpu.user + self_cpu.system
            out.write(json.dumps({"t": round(now, 3), "cpu": cpu,
                                  "logins": logins, "busy": machine_busy(),
                                  "slowest": round(slowest, 3), **peak})
                      + "\n")
            peak = {"runs": 0, "procs": 0, "rss_kib": 0}
            slowest = 0.0
            next_line += 1.0
        time.sleep(max(0.0, 0.1 - (time.time() - now)))


if __name__ == "__main__":
    main(sys.argv)
