#!/usr/bin/env python3
"""A long headless game against a server that injects every non-fatal fault at once.

    bench/soak.py [--server PATH] [--client PATH] [--seconds S]

The server (enemies and pickups as usual) drops every 4th unreliable packet, holds every
packet 60 ms, sends each map chunk twice, last index first and before the handoff begins,
and aborts the first handoff. The client adds its own 150 ms of send latency and drops
every 3rd input tick, and steers through a portal and into fights (--auto-portal
--auto-combat) for S seconds (default 600). Once a second the client's VmRSS is read from
/proc.

Passes when the client ends with status 0 and its summary line, it committed at least one
sector per 10 s of play, and its resident memory grew by at most 512 KiB between the end of
the first minute and the end of the run. Exit status 1 otherwise.

Paths default to KESTREL_SERVER_BIN / KESTREL_CLIENT_BIN, else <root>/build/bin/server and
<root>/build/bin/client.
"""
import argparse
import os
import re
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
GROWTH_TARGET = 512  # KiB between minute 1 and the end
SERVER_FAULTS = ["--loss-every", "4", "--delay-ms", "60", "--duplicate-chunks",
                 "--reverse-chunks", "--early-chunks", "--abort-first-handoff"]
CLIENT_FAULTS = ["--latency-ms", "150", "--drop-every", "3"]


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--server", default=os.environ.get(
        "KESTREL_SERVER_BIN", os.path.join(ROOT, "build", "bin", "server")))
    parser.add_argument("--client", default=os.environ.get(
        "KESTREL_CLIENT_BIN", os.path.join(ROOT, "build", "bin", "client")))
    parser.add_argument("--seconds", type=int, default=600)
    args = parser.parse_args()
    if args.seconds < 90:
        sys.exit("soak: --seconds must be at least 90")

    port = free_port()
    server = subprocess.Popen(
        [args.server, "--port", str(port), "--seconds", str(args.seconds + 30)] + SERVER_FAULTS,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(0.3)
    home = tempfile.mkdtemp(prefix="kestrel-soak-")
    started = time.monotonic()
    client = subprocess.Popen(
        [args.client, "--headless", "-l", "--port", str(port), "--seconds", str(args.seconds),
         "--auto-portal", "--auto-combat", "--require-commits", "1",
         "--profile-file", os.path.join(home, "profile.bin")] + CLIENT_FAULTS,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    samples = []  # (seconds since start, rss KiB)
    try:
        while client.poll() is None:
            try:
                samples.append((time.monotonic() - started, rss_kib(client.pid)))
            except OSError:
                break
            time.sleep(max(0.0, started + len(samples) - time.monotonic()))
        out, err = client.communicate(timeout=60)
    finally:
        if client.poll() is None:
            client.kill()
        server.terminate()
        server_out, _ = server.communicate(timeout=30)

    problems = []
    summary = re.search(r"^Client stopped: .*$", out, re.M)
    commits = len(re.findall(r"^Committed sector ", out, re.M))
    if client.returncode != 0 or not summary:
        problems.append(f"client ended with status {client.returncode}: "
                        f"{(err.strip() or out.strip())[-300:]}")
    if commits < args.seconds // 10:
        problems.append(f"only {commits} commits in {args.seconds} s")
    after = [s for s in samples if s[0] >= 60]
    growth = after[-1][1] - after[0][1] if len(after) >= 2 else None
    if growth is None or growth > GROWTH_TARGET:
        problems.append(f"rss growth {growth} KiB after minute 1 (at most {GROWTH_TARGET})")

    print(f"soak: {args.seconds} s, server {' '.join(SERVER_FAULTS)}; "
          f"client {' '.join(CLIENT_FAULTS)}")
    print(f"client status {client.returncode}, {commits} commits")
    if summary:
        print(summary.group(0))
    print("server: " + (server_out.strip().splitlines() or ["(no summary)"])[-1])
    series = [s for s in samples if int(s[0]) % 60 == 0 or s is samples[-1]]
    print("rss KiB by second: " + ", ".join(f"{int(t)}:{r}" for t, r in series))
    print(f"rss growth after minute 1: {growth} KiB (target <= {GROWTH_TARGET})")
    for problem in problems:
        print(f"check failed: {problem}")
    print("soak passed" if not problems else "soak FAILED")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
