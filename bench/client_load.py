#!/usr/bin/env python3
"""The headless client's CPU and memory while it is streamed a full crowd.

    bench/client_load.py [--server PATH] [--client PATH] [--seconds S] [--json]

Starts the reference server on a free loopback port with --crowd 367 --enemies 0 --items 0,
so every snapshot carries 368 entities (the viewer and 367 wanderers) in 16 parts, and a
headless client connected to it through a small UDP relay on loopback. Once a second it
samples the client's /proc/PID/stat (utime + stime) and /proc/PID/status (VmRSS).

Targets: at most 5 % of one core on average over the first 20 s after the connection,
resident memory below 20 MB, and no growth between second 10 and second 60 of the run (at
most 256 KiB, a few pages of allocator noise). The relay reads the SnapshotPart headers
on their way to the client, and the client's summary line says how many snapshots it
applied, so a run against a world without the crowd, or one where the client saw little of
it, fails instead of passing. Exit status 1 when any target or check is missed.

Paths default to KESTREL_SERVER_BIN / KESTREL_CLIENT_BIN, else <root>/build/bin/server and
<root>/build/bin/client. --json prints the figures as one JSON object (bench/run uses it).
"""
import argparse
import json
import os
import re
import select
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
CPU_TARGET = 5.0        # % of one core, average over the first 20 s
RSS_TARGET = 20_000_000 // 1024  # KiB: 20 MB
GROWTH_TARGET = 256     # KiB between second 10 and the end
CROWD = 367
ENTITIES = CROWD + 1    # with the viewer
PARTS = 16
SNAPSHOT_RATE = 15      # per second


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Relay(threading.Thread):
    """Passes datagrams between the client and the server and tallies the snapshot parts
    that reach the client: per snapshot id, the entity count of each part index."""

    def __init__(self, server_port):
        super().__init__(daemon=True)
        self.front = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.front.bind(("127.0.0.1", 0))
        self.port = self.front.getsockname()[1]
        self.back = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.back.bind(("127.0.0.1", 0))
        self.server = ("127.0.0.1", server_port)
        self.client = None
        self.stop = threading.Event()
        self.lock = threading.Lock()
        self.snapshots = {}  # id -> {part index: entity count}
        self.malformed = 0
        self.first_part = None  # monotonic time of the first snapshot part

    def tally(self, data):
        # ENet may put several commands in one datagram; each of our packets starts with
        # the header magic "QV", version 2, and SnapshotPart is type 4. A part is taken only
        # when its length field matches its entity count exactly.
        start = 0
        while True:
            at = data.find(b"QV\x02\x04", start)
            if at < 0 or at + 56 > len(data):
                return
            start = at + 4
            (length,) = struct.unpack_from("<H", data, at + 4)
            snapshot_id, = struct.unpack_from("<I", data, at + 24)
            count, index, parts = struct.unpack_from("<HBB", data, at + 24 + 28)
            if length != 32 + 40 * count or at + 24 + length > len(data):
                continue
            with self.lock:
                if self.first_part is None:
                    self.first_part = time.monotonic()
                if parts != PARTS or count > 23 or index >= parts:
                    self.malformed += 1
                self.snapshots.setdefault(snapshot_id, {})[index] = count
            start = at + 24 + length

    def run(self):
        while not self.stop.is_set():
            ready, _, _ = select.select([self.front, self.back], [], [], 0.2)
            for sock in ready:
                data, source = sock.recvfrom(65536)
                if sock is self.front:
                    self.client = source
                    self.back.sendto(data, self.server)
                elif self.client is not None:
                    self.tally(data)
                    self.front.sendto(data, self.client)

    def full_snapshots(self):
        with self.lock:
            total = len(self.snapshots)
            full = sum(1 for parts in self.snapshots.values()
                       if len(parts) == PARTS and sum(parts.values()) == ENTITIES)
        return total, full


def sample(pid, ticks_per_second):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / ticks_per_second
    rss = 0
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    return cpu, rss


def measure(server_bin, client_bin, seconds):
    server_port = free_port()
    server = subprocess.Popen(
        [server_bin, "--port", str(server_port), "--seconds", str(seconds + 15),
         "--crowd", str(CROWD), "--enemies", "0", "--items", "0"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    relay = Relay(server_port)
    relay.start()
    time.sleep(0.3)  # the server listens before the client's first Hello
    home = tempfile.mkdtemp(prefix="kestrel-load-")
    env = dict(os.environ, HOME=home, XDG_DATA_HOME=home)
    started = time.monotonic()
    client = subprocess.Popen(
        [client_bin, "--headless", "-l", "--port", str(relay.port), "--seconds", str(seconds),
         "--profile-file", os.path.join(home, "profile.bin")],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    ticks = os.sysconf("SC_CLK_TCK")
    samples = []  # (seconds since the client started, cpu seconds, rss KiB)
    try:
        while client.poll() is None:
            try:
                cpu, rss = sample(client.pid, ticks)
            except (OSError, IndexError, ValueError):
                break  # it has just exited
            samples.append((time.monotonic() - started, cpu, rss))
            time.sleep(max(0.0, started + len(samples) - time.monotonic()))
        out, err = client.communicate(timeout=30)
    finally:
        if client.poll() is None:
            client.kill()
        relay.stop.set()
        relay.join()
        try:
            server.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            server.kill()
            server.communicate()
    connected = None if relay.first_part is None else relay.first_part - started
    return samples, connected, client.returncode, out, err, relay


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--server", default=os.environ.get(
        "KESTREL_SERVER_BIN", os.path.join(ROOT, "build", "bin", "server")))
    parser.add_argument("--client", default=os.environ.get(
        "KESTREL_CLIENT_BIN", os.path.join(ROOT, "build", "bin", "client")))
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--json", action="store_true")
    args = parser.parse_args()
    for path in (args.server, args.client):
        if not os.access(path, os.X_OK):
            sys.exit(f"client_load: no executable {path}; build first")
    if args.seconds < 30:
        sys.exit("client_load: --seconds must be at least 30")

    samples, connected, status, out, err, relay = measure(args.server, args.client, args.seconds)
    problems = []
    summary = re.search(r"Client stopped: .* snapshots=(\d+) ", out)
    applied = int(summary.group(1)) if summary else 0
    if status != 0 or not summary:
        problems.append(f"client ended with status {status}: {(err.strip() or out.strip())[-200:]}")
    if connected is None:
        problems.append("no snapshot part reached the client")
        connected = 0.0
    relayed, full = relay.full_snapshots()
    streamed = max(0.0, args.seconds - connected)
    if relay.malformed:
        problems.append(f"{relay.malformed} snapshot parts not of {PARTS} parts of <= 23")
    if full < 0.9 * relayed or relayed == 0:
        problems.append(f"only {full} of {relayed} snapshots carried {ENTITIES} entities in "
                        f"{PARTS} parts")
    if applied < 0.8 * SNAPSHOT_RATE * streamed:
        problems.append(f"the client applied {applied} snapshots in {streamed:.1f} s "
                        f"(expected about {SNAPSHOT_RATE * streamed:.0f})")

    after = [s for s in samples if s[0] >= connected]
    window = [s for s in after if s[0] <= connected + 20.5]
    cpu_avg = None
    if len(window) >= 2 and window[-1][0] - window[0][0] >= 15:
        cpu_avg = 100.0 * (window[-1][1] - window[0][1]) / (window[-1][0] - window[0][0])
    else:
        problems.append("too few samples in the first 20 s after the connection")
    rss = [s[2] for s in after] or [0]
    at_10 = [s for s in samples if s[0] >= 10]
    growth = at_10[-1][2] - at_10[0][2] if len(at_10) >= 2 else None
    if growth is None:
        problems.append("too few samples after second 10")

    figures = {
        "connected_after_s": round(connected, 2),
        "cpu_avg_20s_percent": None if cpu_avg is None else round(cpu_avg, 2),
        "rss_start_kib": rss[0],
        "rss_median_kib": int(statistics.median(rss)),
        "rss_max_kib": max(rss),
        "rss_growth_kib": growth,
        "growth_from_s": round(at_10[0][0], 1) if at_10 else None,
        "growth_to_s": round(at_10[-1][0], 1) if at_10 else None,
        "snapshots_relayed": relayed,
        "snapshots_full": full,
        "snapshots_applied": applied,
        "samples": len(samples),
    }
    verdicts = {
        "cpu": cpu_avg is not None and cpu_avg <= CPU_TARGET,
        "rss": max(rss) < RSS_TARGET,
        "growth": growth is not None and growth <= GROWTH_TARGET,
    }
    failed = bool(problems) or not all(verdicts.values())
    if args.json:
        print(json.dumps({"figures": figures, "verdicts": verdicts, "problems": problems}))
        return 1 if failed else 0

    def mark(ok):
        return "ok" if ok else "MISSED"

    print(f"crowd: {full} of {relayed} snapshots relayed with {ENTITIES} entities in {PARTS} "
          f"parts; client applied {applied}; first part {connected:.2f} s after start")
    cpu_text = "n/a" if cpu_avg is None else f"{cpu_avg:.2f} %"
    print(f"cpu, first 20 s after connection:  {cpu_text:>10}   target <= {CPU_TARGET:g} %   "
          f"{mark(verdicts['cpu'])}")
    print(f"rss start / median / max:  {rss[0]} / {figures['rss_median_kib']} / {max(rss)} KiB   "
          f"target < {RSS_TARGET} KiB   {mark(verdicts['rss'])}")
    growth_text = "n/a" if growth is None else (
        f"{growth:+d} KiB (s {figures['growth_from_s']} to {figures['growth_to_s']})")
    print(f"rss growth:  {growth_text}   target <= {GROWTH_TARGET} KiB   "
          f"{mark(verdicts['growth'])}")
    for problem in problems:
        print(f"check failed: {problem}")
    print("every target met" if not failed else "target(s) missed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
