#!/usr/bin/env python3
"""Interleaved timings for run_benchmark.sh: the collector (or its SSH
component) against the OpenSSH client plus zabbix_sender, on the same device
and the same Zabbix server. Spawns every program directly (no shell), so
both sides pay the same start-up. Peak memory is measured in runs of its own
under GNU time: a child forked from Python starts with Python's pages, and
the kernel's high-water mark keeps them across exec.

bench_runs.py compare|growth|session|tls RUNS BUILD DEVICE_ENV ZABBIX_ENV WORK
              HOST [LABEL]
"session" measures the device session alone and needs no Zabbix server
(ZABBIX_ENV and HOST may be "-"). "tls" times full runs to HOST unencrypted
against full runs to the PSK-only host LABEL with the CGNAT_ZABBIX_TLS_*
settings of this process's environment (only those runs get them).
"""
import os
import re
import select
import statistics
import subprocess
import sys
import time

RUN_CAP_S = 120  # one run; the collector's own bound is 300 s
GNU_TIME = "/usr/bin/time"
PEAK_LIMIT_KB = 10_000_000 // 1024  # 10 MB read strictly: 9765 KiB
COMMANDS = ["set cli screen-length 0", "show cgnat summary", "show cgnat errors"]


def read_env(path):
    values = {}
    with open(path) as env:
        for line in env:
            key, sep, value = line.strip().partition("=")
            if sep:
                values[key] = value
    return values


def reap(pid, name):
    """Waits for the child, killed after RUN_CAP_S; its status and usage.

    wait4 gives the child's CPU with that of the children it reaped."""
    pidfd = os.pidfd_open(pid)
    try:
        if not select.select([pidfd], [], [], RUN_CAP_S)[0]:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
            raise SystemExit(f"{name} passou de {RUN_CAP_S} s; abortado")
        _, status, usage = os.wait4(pid, 0)
        return status, usage
    finally:
        os.close(pidfd)


class Bench:
    def __init__(self, build, device_env, zabbix_env, work, host):
        self.device = read_env(device_env)
        self.zabbix = read_env(zabbix_env) if zabbix_env != "-" else {}
        self.build, self.work, self.host = build, work, host
        self.collector = os.path.join(build, "LINUX", "cgnat-collector")
        self.probe = os.path.join(build, "tarnlibrary", "ssh_library",
                                  "ssh_session_probe")
        self.env = dict(os.environ, HOME=work,  # no known_hosts of the caller
                        DEVICE_PASSWORD=self.device["DEVICE_PASSWORD"])
        self.tls_env = {name: self.env.pop(name) for name in list(self.env)
                        if name.startswith("CGNAT_ZABBIX_TLS_")}
        if self.zabbix:
            self.env["CGNAT_ZABBIX_SERVER"] = self.zabbix["ZBX_TRAPPER_ADDRESS"]
        self.commands_file = os.path.join(work, "commands.txt")
        with open(self.commands_file, "w") as commands:
            commands.write("\n".join(COMMANDS + ["exit"]) + "\n")
        self.sender_file = os.path.join(work, "sender_values.txt")

    def collector_argv(self, zabbix_host):
        d = self.device
        return [self.collector, "discoveryLinux", d["DEVICE_HOST"],
                d["DEVICE_PORT"], d["DEVICE_USER"], d["DEVICE_PASSWORD"],
                zabbix_host]

    def openssh_argv(self):
        d = self.device
        # sshpass reads the password from the environment (SSHPASS), so it
        # does not show in the process list either.
        return ["sshpass", "-e", "ssh", "-tt",
                "-o", "StrictHostKeyChecking=no",
                "-o", "UserKnownHostsFile=/dev/null", "-o", "LogLevel=ERROR",
                "-p", d["DEVICE_PORT"], f"{d['DEVICE_USER']}@{d['DEVICE_HOST']}"]

    def sender_argv(self):
        z = self.zabbix
        return ["zabbix_sender", "-z", "127.0.0.1", "-p", z["ZBX_TRAPPER_PORT"],
                "-i", self.sender_file]

    # One program, timed; returns (seconds, status, output).
    def spawn(self, argv, stdin_path=None, keep_output=False, extra_env=None):
        env = dict(self.env, SSHPASS=self.device["DEVICE_PASSWORD"],
                   **(extra_env or {}))
        stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
        out = subprocess.PIPE if keep_output else subprocess.DEVNULL
        start = time.perf_counter()
        child = subprocess.Popen(argv, stdin=stdin, stdout=out,
                                 stderr=subprocess.STDOUT if keep_output else
                                 subprocess.DEVNULL, env=env)
        # Read to the end without letting Popen reap the child: wait4 must.
        text = child.stdout.read() if keep_output else b""
        try:
            status, usage = reap(child.pid, argv[0])
            self.last_cpu = usage.ru_utime + usage.ru_stime
        finally:
            if stdin_path:
                stdin.close()
        seconds = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        return seconds, child.returncode, text.decode("utf-8", "replace")

    # One program's CPU (user + sys, with the children it reaped).
    def spawn_cpu(self, argv, stdin_path=None):
        env = dict(self.env, SSHPASS=self.device["DEVICE_PASSWORD"])
        null = os.open(os.devnull, os.O_RDWR)
        stdin = os.open(stdin_path, os.O_RDONLY) if stdin_path else null
        try:
            pid = os.posix_spawnp(argv[0], argv, env, file_actions=[
                (os.POSIX_SPAWN_DUP2, stdin, 0), (os.POSIX_SPAWN_DUP2, null, 1),
                (os.POSIX_SPAWN_DUP2, null, 2)])
        finally:
            os.close(null)
            if stdin_path:
                os.close(stdin)
        status, usage = reap(pid, argv[0])
        if os.waitstatus_to_exitcode(status) != 0:
            raise SystemExit(f"{os.path.basename(argv[0])} terminou com status "
                             f"{os.waitstatus_to_exitcode(status)} durante a medição")
        return usage.ru_utime + usage.ru_stime

    # The contenders: each a list of steps, timed as one.
    def collector_run(self):
        return [(self.collector_argv(self.host), None)]

    def baseline_run(self):
        return [(self.openssh_argv(), self.commands_file),
                (self.sender_argv(), None)]

    def probe_run(self):
        d = self.device
        return [([self.probe, d["DEVICE_HOST"], d["DEVICE_PORT"],
                  d["DEVICE_USER"]], None)]

    def openssh_run(self):
        return [(self.openssh_argv(), self.commands_file)]

    def run(self, steps):
        total = 0.0
        for argv, stdin_path in steps:
            seconds, status, _ = self.spawn(argv, stdin_path)
            if status != 0:
                raise SystemExit(f"{os.path.basename(argv[0])} terminou com "
                                 f"status {status} durante a medição")
            total += seconds
        return total

    # Peak resident memory of one full collector run, in kB.
    def peak_kb(self):
        out_file = os.path.join(self.work, "peak.txt")
        argv = [GNU_TIME, "-f", "%M", "-o", out_file] + self.collector_argv(
            self.host)
        _, status, _ = self.spawn(argv)
        if status != 0:
            raise SystemExit(f"o coletor terminou com status {status}")
        with open(out_file) as peak:
            return int(peak.read().split()[-1])

    # The same 36 values the collector sends, as zabbix_sender -i lines.
    def write_sender_file(self, catalogue_path):
        _, status, report = self.spawn(self.collector_argv("debug"),
                                          keep_output=True)
        if status != 0:
            raise SystemExit(f"o coletor em modo debug falhou:\n{report}")
        values = dict(re.findall(r"'(\{#[A-Z_]+\})': '?([^',}]*)'?", report))
        with open(catalogue_path) as catalogue:
            source = catalogue.read()
        items = re.findall(r'\{Document::\w+,\s*"\w+",\s*"(\{#[A-Z_]+\})",'
                           r'\s*"(\w+)"\}', source)
        if len(items) != 36 or any(macro not in values for macro, _ in items):
            raise SystemExit(f"esperava 36 itens; catálogo {len(items)}, "
                             f"relatório debug {len(values)}")
        with open(self.sender_file, "w") as sender:
            for macro, key in items:
                sender.write(f"{self.host} {key} {values[macro]}\n")

    def check_deliveries(self):
        _, status, out = self.spawn(self.collector_argv(self.host),
                                       keep_output=True)
        if status != 0 or out.strip() != "OK":
            raise SystemExit(f"o coletor não entregou os 36 valores:\n{out}")
        _, status, out = self.spawn(self.sender_argv(), keep_output=True)
        if "processed: 36; failed: 0" not in out:
            raise SystemExit(f"zabbix_sender não entregou os 36 valores:\n{out}")


def interleave(runs, a, b):
    """A, B, A, B, ...: load drifts hit both sides alike."""
    times_a, times_b = [], []
    for _ in range(runs):
        times_a.append(a())
        times_b.append(b())
    return times_a, times_b


def verdict(met):
    return "cumpre" if met else "NÃO cumpre"


def report(title, runs, name_a, name_b, times_a, times_b, goal=1.1):
    med_a, med_b = statistics.median(times_a), statistics.median(times_b)
    ratio = med_a / med_b
    print(f"{title} (N={runs}, intercalado)")
    print(f"  {name_a:<44} mediana {med_a * 1000:8.1f} ms  "
          f"(mín {min(times_a) * 1000:.1f})")
    print(f"  {name_b:<44} mediana {med_b * 1000:8.1f} ms  "
          f"(mín {min(times_b) * 1000:.1f})")
    print(f"  razão {ratio:.2f} (meta <= {goal:.2f}: {verdict(ratio <= goal)})")
    return ratio


def report_session(runs, times_a, times_b):
    report("Sessão no dispositivo (conectar, 3 comandos, fechar)", runs,
           "componente SSH (ssh_session_probe)", "ssh -tt via sshpass",
           times_a, times_b)


# CPU (user + sys) per run, medians; machine load shifts these, so compare
# figures of one invocation only. Each program is started with posix_spawn,
# so the figure is its own and exec's, not Python's child-side work between
# fork and exec. The shared-library collector is the same source linked as
# before static archives (CGNAT_BENCH_SHARED_COLLECTOR). The floors
# (cpu_floor, delivery_floor) are what this machine charges a program that
# does nothing, and one that only makes a run's 36 deliveries, counted the
# same way.
def report_cpu(bench, runs):
    shared = os.environ.get("CGNAT_BENCH_SHARED_COLLECTOR")

    def collector(binary):
        return [([binary] + bench.collector_argv(bench.host)[1:], None)]
    # (name, steps, goal in ms or None)
    floor = os.path.join(bench.build, "benchmark", "cpu_floor")
    delivery_floor = os.path.join(bench.build, "benchmark", "delivery_floor")
    contenders = [("cgnat-collector version",
                   [([bench.collector, "version"], None)], 2)]
    if shared:
        contenders.append(("  bibliotecas compartilhadas",
                           [([shared, "version"], None)], None))
    contenders += [
        ("  piso: programa vazio (ligação do coletor)", [([floor], None)], None),
        ("  piso: programa vazio, estático", [([floor + "_static"], None)], None),
        ("cgnat-collector discoveryLinux", collector(bench.collector), 5)]
    if shared:
        contenders.append(("  bibliotecas compartilhadas", collector(shared), None))
    contenders.append(("  piso: só as 36 entregas, uma conexão cada",
                       [([delivery_floor, bench.sender_file,
                          bench.zabbix["ZBX_TRAPPER_PORT"]], None)], None))
    contenders.append(("ssh -tt via sshpass + zabbix_sender -i",
                       bench.baseline_run(), None))
    samples = {index: [] for index in range(len(contenders))}
    for _ in range(runs):
        for index, (_, steps, _) in enumerate(contenders):
            samples[index].append(sum(bench.spawn_cpu(argv, stdin)
                                      for argv, stdin in steps))
    print(f"CPU por execução, user+sys (N={runs}, intercalado, posix_spawn)")
    for index, (name, _, goal) in enumerate(contenders):
        median_ms = statistics.median(samples[index]) * 1000
        met = ("" if goal is None else
               f"  (meta <= {goal} ms: {verdict(median_ms <= goal)})")
        print(f"  {name:<44} mediana {median_ms:8.2f} ms{met}")


# The same full run delivered with a pre-shared key and unencrypted, to two
# hosts of one server.
def report_tls(bench, runs, psk_host):
    cpu = {psk_host: [], bench.host: []}

    def full_run(host, extra_env):
        def once():
            seconds, status, _ = bench.spawn(bench.collector_argv(host),
                                             extra_env=extra_env)
            if status != 0:
                raise SystemExit(f"o coletor terminou com status {status}")
            cpu[host].append(bench.last_cpu)
            return seconds
        return once
    for host, extra_env in ((psk_host, bench.tls_env), (bench.host, {})):
        _, status, out = bench.spawn(bench.collector_argv(host),
                                     keep_output=True, extra_env=extra_env)
        if status != 0 or out.strip() != "OK":
            raise SystemExit(f"o coletor não entregou os 36 valores a {host}:"
                             f"\n{out}")
    psk, clear = interleave(runs, full_run(psk_host, bench.tls_env),
                            full_run(bench.host, {}))
    report("Entrega cifrada: execução completa com PSK contra sem cifra", runs,
           "cgnat-collector, PSK (36 handshakes TLS)",
           "cgnat-collector, sem cifra", psk, clear, goal=1.2)
    # Other load on the machine stretches waits; the CPU a run costs moves
    # far less.
    psk_cpu, clear_cpu = (statistics.median(cpu[h]) for h in (psk_host,
                                                             bench.host))
    print(f"  CPU user+sys do coletor: PSK {psk_cpu * 1000:.1f} ms, sem cifra "
          f"{clear_cpu * 1000:.1f} ms, razão {psk_cpu / clear_cpu:.2f}")


def main():
    part, runs = sys.argv[1], int(sys.argv[2])
    build, device_env, zabbix_env, work, host = sys.argv[3:8]
    label = sys.argv[8] if len(sys.argv) > 8 else ""
    bench = Bench(build, device_env, zabbix_env, work, host)
    probe = lambda: bench.run(bench.probe_run())
    openssh = lambda: bench.run(bench.openssh_run())
    if part == "session":
        probe()  # warm-up of both paths
        openssh()
        report_session(runs, *interleave(runs, probe, openssh))
        return
    if part == "tls":
        report_tls(bench, runs, label)
        return
    source_dir = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    bench.write_sender_file(
        os.path.join(source_dir, "LINUX", "collection", "catalogue.hpp"))
    bench.check_deliveries()
    baseline = lambda: bench.run(bench.baseline_run())
    collector = lambda: bench.run(bench.collector_run())
    if part == "compare":
        probe()  # warm-up of both paths
        openssh()
        a, b = interleave(runs, collector, baseline)
        report("Execução completa (sessão + 36 entregas)", runs,
               "cgnat-collector discoveryLinux",
               "ssh -tt via sshpass + zabbix_sender -i", a, b, goal=0.5)
        peaks = [bench.peak_kb() for _ in range(runs)]
        print(f"  memória residente de pico do coletor (GNU time %M, N={runs}):"
              f" mediana {statistics.median(peaks) / 1024:.1f} MiB, máx "
              f"{max(peaks) / 1024:.1f} MiB (meta <= 10 MB = {PEAK_LIMIT_KB} KiB: "
              f"{verdict(max(peaks) <= PEAK_LIMIT_KB)})")
        report_session(runs, *interleave(runs, probe, openssh))
        report_cpu(bench, max(runs, 20))
    else:
        a, b = interleave(runs, collector, baseline)
        peaks = [bench.peak_kb() for _ in range(min(runs, 3))]
        med_a, med_b = statistics.median(a), statistics.median(b)
        print(f"  {label:>9} linhas  coletor {med_a * 1000:9.1f} ms  "
              f"referência {med_b * 1000:9.1f} ms  razão {med_a / med_b:5.2f}  "
              f"pico {max(peaks) / 1024:7.1f} MiB")


if __name__ == "__main__":
    main()
