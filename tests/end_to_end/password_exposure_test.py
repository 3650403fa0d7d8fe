#!/usr/bin/python3
"""Samples /proc/*/cmdline and /proc/*/environ of every process while runs
are in progress against a slow simulated device, and fails when any process
shows the password past its first 100 ms.

password_exposure_test.py BUILD_DIR [--report]  (root; --report: figures only)
"""
import os
import shlex
import subprocess
import sys
import tempfile
import threading
import time

LIMIT_S = 0.100
# Blanks, quotes, shell characters and bytes that are not UTF-8.
PASSWORD = b"pw 'q\" $(touch x);|&\xff\xfe slow"
# A user of its own: the device's default user keeps its password for the
# tests that run alongside.
USER = "cgnatpwtest"

build = os.path.abspath(sys.argv[1])
report_only = "--report" in sys.argv
here = os.path.dirname(os.path.abspath(__file__))
device_dir = os.path.join(here, "..", "..", "device_simulator")
collector = os.path.join(build, "LINUX", "cgnat-collector")
tick = os.sysconf("SC_CLK_TCK")
worst = {}  # pid -> (seconds visible after start, command line)
stop = threading.Event()


def start_seconds(pid):
    with open(f"/proc/{pid}/stat", "rb") as stat:
        fields = stat.read().rsplit(b")", 1)[1].split()
    return int(fields[19]) / tick  # starttime, after the name's ")"


def sample():
    own = os.getpid()
    while not stop.is_set():
        for name in os.listdir("/proc"):
            if not name.isdigit() or int(name) == own:
                continue
            # When the read began: the password was visible no earlier.
            now = time.clock_gettime(time.CLOCK_BOOTTIME)
            try:
                with open(f"/proc/{name}/cmdline", "rb") as f:
                    cmdline = f.read()
                try:
                    with open(f"/proc/{name}/environ", "rb") as f:
                        environ = f.read()
                except OSError:
                    environ = b""
                if PASSWORD in cmdline or PASSWORD in environ:
                    age = now - start_seconds(name)
                    key = (name, cmdline.split(b"\0")[0])  # sh, then exec
                    if age > worst.get(key, (0, b""))[0]:
                        worst[key] = (age, cmdline)
            except OSError:
                pass  # ended meanwhile
        time.sleep(0.003)


def runs_left(port):
    for name in os.listdir("/proc"):
        try:
            with open(f"/proc/{name}/cmdline", "rb") as f:
                words = f.read().split(b"\0")
        except OSError:
            continue
        if collector.encode() in words[0:1] and str(port).encode() in words:
            return True
    return False


with tempfile.TemporaryDirectory(prefix="cgnat-exposure-") as work:
    os.chmod(work, 0o755)
    started = subprocess.run(
        ["bash", os.path.join(device_dir, "start_device.sh"), "--dir", work,
         "--binary", os.path.join(build, "device_simulator", "cgnat-device"),
         "--user", USER, "--password", PASSWORD, "fault=slow", "slow_ms=700"],
        check=True, capture_output=True)
    port = int(started.stdout.split()[-1])
    env = dict(os.environ, CGNAT_ZABBIX_SERVER="127.0.0.1:1",
               ASAN_OPTIONS="detect_leaks=0")
    sampler = threading.Thread(target=sample)
    sampler.start()
    failed = []
    try:
        for mode, zabbix_host, wrapped in [
                ("discoveryLinux", "zh", False),
                ("discoveryLinux", "debug", False),
                ("launch_discoveryLinux", "zh", False),
                ("launch_discoveryLinux", "zh", True)]:
            words = [collector, mode, "127.0.0.1", str(port), USER,
                     PASSWORD, zabbix_host]
            if wrapped:  # as Zabbix runs an external check
                words = ["/bin/sh", "-c", " ".join(
                    shlex.quote(os.fsdecode(word)) for word in words)]
            done = subprocess.run(words, env=env, capture_output=True,
                                  timeout=120)
            if done.returncode != 0 and not report_only:
                failed.append(f"{mode} {zabbix_host}: status "
                              f"{done.returncode}: {done.stderr!r}")
        for _ in range(600):  # the background run, bounded
            if not runs_left(port):
                break
            time.sleep(0.05)
        else:
            failed.append("the background run did not end")
    finally:
        stop.set()
        sampler.join()
        with open(os.path.join(work, "sshd.log"), "rb") as log:
            logins = log.read().count(f"Accepted password for {USER}".encode())
        subprocess.run(["bash", os.path.join(device_dir, "stop_device.sh"),
                        work])
    longest = max((age for age, _ in worst.values()), default=0.0)
    print(f"processes that showed the password: {len(worst)}; longest "
          f"visible after start: {longest * 1000:.0f} ms (limit "
          f"{LIMIT_S * 1000:.0f} ms); logins accepted: {logins} of 4")
    for (pid, _), (age, cmdline) in sorted(worst.items()):
        shown = cmdline.replace(PASSWORD, b"<password>").replace(b"\0", b" ")
        print(f"  pid {pid}: {age * 1000:.0f} ms: {shown!r}")
    if report_only:
        sys.exit(0)
    if logins != 4:
        failed.append(f"{logins} logins accepted, not 4")
    if longest > LIMIT_S:
        failed.append("the password stayed visible too long")
    for line in failed:
        print("FAIL:", line)
    sys.exit(1 if failed else 0)
