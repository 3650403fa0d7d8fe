#!/usr/bin/env python3
"""Records the raw bytes a real-shell device sends in one session.

Starts a device (start_shell_device.sh), logs in with OpenSSH's client on a
511x24 vt100 terminal, as the collector asks for, and types what the
collector types: an Enter, then "set cli screen-length 0", "show cgnat
summary" and "show cgnat errors", each with an extra Enter, then "exit".
Each is sent once the device has been quiet for --quiet-ms. Writes the
received bytes to OUTPUT, and to OUTPUT.sent one line per input: the byte
offset in OUTPUT and the milliseconds since login when it was sent, then the
input. Stops the device and removes its user at the end. Run as root.

  capture.py --shell dash [--server dropbear] [--profile-delay 3]
             [--late-message] [--quiet-ms 500] OUTPUT
"""
import argparse
import fcntl
import os
import pty
import select
import struct
import subprocess
import sys
import tempfile
import termios
import time

HERE = os.path.dirname(os.path.abspath(__file__))
INPUTS = [b"\n", b"set cli screen-length 0\n\n", b"show cgnat summary\n\n",
          b"show cgnat errors\n\n", b"exit\n"]
SESSION_LIMIT_S = 60


def read_device_env(path):
    with open(path) as env:
        return dict(line.rstrip("\n").split("=", 1) for line in env if "=" in line)


def read_until_quiet(master, quiet_s, received, deadline):
    """Appends what comes until quiet_s without a byte; False at the end."""
    while time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], quiet_s)
        if not ready:
            return True
        try:
            data = os.read(master, 65536)
        except OSError:  # the terminal closed with the session
            return False
        if not data:
            return False
        received += data
    return False


def log_in(env):
    """The ssh client on a terminal of its own; returns (pid, master)."""
    pid, master = pty.fork()
    if pid == 0:
        # ssh sends this terminal's modes (echo, line ends) for the device's
        # terminal, then makes it raw itself: it stays as a terminal starts.
        fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 511, 0, 0))
        os.environ["TERM"] = "vt100"
        os.execvp("sshpass", [
            "sshpass", "-f", env["DEVICE_PASSWORD_FILE"], "ssh", "-tt",
            "-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null",
            "-o", "LogLevel=ERROR", "-o", "PubkeyAuthentication=no",
            "-p", env["DEVICE_PORT"], env["DEVICE_USER"] + "@" + env["DEVICE_HOST"]])
    return pid, master


def capture(env, quiet_s, output):
    pid, master = log_in(env)
    received = bytearray()
    sent = []
    start = time.monotonic()
    deadline = start + SESSION_LIMIT_S
    try:
        for line in INPUTS:
            if not read_until_quiet(master, quiet_s, received, deadline):
                break
            sent.append((len(received), int((time.monotonic() - start) * 1000), line))
            os.write(master, line)
        while read_until_quiet(master, quiet_s, received, deadline):
            pass
    finally:
        os.close(master)
        os.waitpid(pid, 0)
    with open(output, "wb") as out:
        out.write(received)
    with open(output + ".sent", "w") as out:
        for offset, ms, line in sent:
            out.write(f"{offset} {ms} {line!r}\n")
    return len(sent) == len(INPUTS)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shell", required=True)
    parser.add_argument("--server", default="sshd", choices=["sshd", "dropbear"])
    parser.add_argument("--profile-delay", default="0")
    parser.add_argument("--late-message", action="store_true")
    parser.add_argument("--quiet-ms", type=int, default=500)
    parser.add_argument("output")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="cgnat-capture.") as work:
        os.chmod(work, 0o755)  # the device's user reaches its files
        device = os.path.join(work, "device")
        start = ["bash", os.path.join(HERE, "start_shell_device.sh"), "--dir", device,
                 "--server", args.server, "--shell", args.shell,
                 "--profile-delay", args.profile_delay]
        if args.late_message:
            start.append("--late-message")
        try:
            if subprocess.run(start, stdout=subprocess.DEVNULL).returncode != 0:
                return 1
            complete = capture(read_device_env(os.path.join(device, "device.env")),
                               args.quiet_ms / 1000, args.output)
        finally:
            subprocess.run(["bash", os.path.join(HERE, "stop_shell_device.sh"), device])
    if not complete:
        print("capture.py: the session ended before every input was sent", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
