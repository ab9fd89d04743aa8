"""The download benchmark's network, inside its own namespace (loopback only): three nginx
mirrors, an htb class per mirror's uplink on `lo`, delay lines in front of the mirrors, and
the clients that download from them. Every process started here is ended by its id."""
import json
import os
import re
import subprocess
import sys
import threading
import time

from bench.common import BLOCK, WINE, measure, sh, windows_path
from harness.nginx import Nginx
from harness.process import end_process

MIRRORS = [("127.0.0.1", 8081), ("127.0.0.2", 8082), ("127.0.0.3", 8083)]
# Delay lines listen on 127.0.0.11-13, each in front of the mirror with the same last digit.
RELAYS = [("127.0.0.11", 9081), ("127.0.0.12", 9082), ("127.0.0.13", 9083)]
RELAY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "delay_relay.py")

# The clients, by the name --clients selects them with.
CLIENT_NAMES = {
    "engine": "engine (libcurl)",
    "wine": "engine (WinINet, Wine)",
    "aria2": "aria2c -x2 -s6",
    # As many connections per mirror as our engine opens at most (kMaxConnectionsPerMirror).
    "aria2x4": "aria2c -x4 -s12",
    "curl": "curl, first mirror",
}
ARIA2_SPLITS = {"aria2": ("-x2", "-s6"), "aria2x4": ("-x4", "-s12")}


# ---------------------------------------------------------------- links

def limit_uplinks(rates):
    """One htb class per mirror (1:1, 1:2, 1:3) at `rates` bytes per second; None lifts them."""
    sh("tc", "qdisc", "del", "dev", "lo", "root", check=False, stderr=subprocess.DEVNULL)
    if not rates:
        return
    sh("tc", "qdisc", "add", "dev", "lo", "root", "handle", "1:", "htb", "default", "99")
    sh("tc", "class", "add", "dev", "lo", "parent", "1:", "classid", "1:99", "htb", "rate", "10gbit")
    for i, ((address, port), rate) in enumerate(zip(MIRRORS, rates), start=1):
        # tc's "bps" is bytes per second. Loopback's 64 KiB MTU keeps header overhead
        # under 0.2 %, so the payload can come close to the class rate.
        sh("tc", "class", "add", "dev", "lo", "parent", "1:", "classid", f"1:{i}", *class_rate(rate))
        sh("tc", "filter", "add", "dev", "lo", "parent", "1:", "protocol", "ip", "prio", "1", "u32",
           "match", "ip", "src", f"{address}/32", "match", "ip", "sport", str(port), "0xffff", "flowid", f"1:{i}")


def class_rate(rate):
    return ["htb", "rate", f"{rate}bps", "ceil", f"{rate}bps", "burst", "128k", "cburst", "128k", "quantum", "65536"]


def change_uplink(mirror, rate):
    """Changes mirror `mirror`'s (0-based) class to `rate` bytes per second, in place."""
    sh("tc", "class", "change", "dev", "lo", "parent", "1:", "classid", f"1:{mirror + 1}", *class_rate(rate))


def uplink_bytes():
    """Bytes each mirror's class has sent so far."""
    out = subprocess.run(["tc", "-s", "class", "show", "dev", "lo"], capture_output=True, text=True).stdout
    sent = {}
    for m in re.finditer(r"class htb 1:(\d+) .*?\n\s*Sent (\d+) bytes", out):
        sent[int(m.group(1))] = int(m.group(2))
    return [sent.get(i, 0) for i in range(1, len(MIRRORS) + 1)]


class RateDrop:
    """Drops one mirror's uplink to `after` bytes per second `delay` seconds after the
    mirrors sent their first bytes of the download (polled from tc's counters)."""

    def __init__(self, mirror, after, delay):
        self.mirror, self.after, self.delay = mirror, after, delay
        self.stop = threading.Event()
        self.first_byte = None  # monotonic time the download began
        self.dropped = None  # monotonic time of the drop
        self.thread = threading.Thread(target=self._watch, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        self.thread.join()
        return False

    def _watch(self):
        base = sum(uplink_bytes())
        while not self.stop.wait(0.01):
            if sum(uplink_bytes()) > base + 16 * 1024:
                self.first_byte = time.monotonic()
                break
        if self.first_byte is None or self.stop.wait(self.delay):
            return
        change_uplink(self.mirror, self.after)
        self.dropped = time.monotonic()


# ---------------------------------------------------------------- servers and delay lines

class Mirror(Nginx):
    """nginx with a small send buffer: its log's end of a request ($msec) is then close to
    when the last byte passed the mirror's rate limit (a default buffer of some megabytes
    would hold seconds of a slow mirror's sending), and bytes of a cancelled transfer do
    not keep the link busy long after the cancel."""

    SEND_BUFFER = "64k"

    def _config(self):
        listen = f"listen {self.address}:{self.port}"
        return super()._config().replace(listen, f"{listen} sndbuf={self.SEND_BUFFER}", 1)


def start_mirrors(root):
    mirrors = []
    try:
        for address, port in MIRRORS:
            mirrors.append(Mirror(address=address, port=port, root=root).start())
    except Exception:
        stop_mirrors(mirrors)
        raise
    return mirrors


def stop_mirrors(mirrors):
    for m in mirrors:
        m.cleanup()


def start_relays(round_trip_ms):
    """One delay line per mirror (none at 0 ms); returns the processes and the hosts to ask."""
    if not round_trip_ms:
        return [], MIRRORS
    relays = []
    try:
        for (address, port), (mirror, mirror_port) in zip(RELAYS, MIRRORS):
            p = subprocess.Popen([sys.executable, RELAY, "--listen", f"{address}:{port}", "--target",
                                  f"{mirror}:{mirror_port}", "--delay-ms", str(round_trip_ms / 2)],
                                 stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
            relays.append(p)
            if p.stdout.readline().strip() != b"ready":
                raise RuntimeError("delay line did not start")
    except Exception:
        stop_processes(relays)
        raise
    return relays, RELAYS


def stop_processes(processes):
    for p in processes:
        end_process(p)
        if p.stdout:
            p.stdout.close()


# ---------------------------------------------------------------- clients

class Lab:
    """The clients' programs and the mirrors they download from."""

    def __init__(self, release, wininet, wine_env, mirrors, work, keep_logs=None):
        self.fetch = os.path.join(release, "tools", "wininet_fetch", "curl_fetch")
        self.wininet, self.wine_env, self.mirrors, self.work = wininet, wine_env, mirrors, work
        self.out = os.path.join(work, "out.bin")
        # A folder to keep each run's mirror logs and client output in (--keep-logs).
        self.keep_logs = keep_logs
        self.kept = 0

    def command(self, client, ini, urls):
        url_args = sum([["--url", u] for u in urls], [])
        if client == "engine":
            return [self.fetch, "--no-recheck", "--report", "--ini", ini, "--out", self.out, *url_args], None
        if client == "wine":
            return ([WINE, self.wininet, "--no-recheck", "--report", "--ini", windows_path(ini), "--out",
                     windows_path(self.out), *url_args], self.wine_env)
        if client in ARIA2_SPLITS:
            return (["aria2c", *ARIA2_SPLITS[client], "--min-split-size=1M", "--file-allocation=none",
                     "--allow-overwrite=true", "--auto-file-renaming=false", "--console-log-level=warn",
                     "--summary-interval=0", "-d", os.path.dirname(self.out), "-o", os.path.basename(self.out),
                     *urls], None)
        if client == "curl":
            return ["curl", "-s", "-o", self.out, urls[0]], None
        raise ValueError(client)

    def runs(self, clients, package, urls, around=None, timeout=900):
        """Each of `clients` (keys of CLIENT_NAMES, in that order) downloads `package`
        (size, md5, description) from `urls`; each run carries its mirrors' figures.
        `around(client)`, if given, is a context manager held over each run."""
        n, digest, ini = package
        runs = []
        for client in [c for c in CLIENT_NAMES if c in clients]:
            cmd, env = self.command(client, ini, urls)
            seen = [len(m.entries()) for m in self.mirrors]
            if around:
                with around(client) as context:
                    run = measure(CLIENT_NAMES[client], cmd, self.out, digest, env=env, timeout=timeout)
                run.context = context
            else:
                run = measure(CLIENT_NAMES[client], cmd, self.out, digest, env=env, timeout=timeout)
            run.mirrors = mirror_figures(self.mirrors, seen, run.started)
            # Our fetch tool's --report: each mirror's round trip as the engine measured it.
            run.round_trips = [int(m.group(1)) for m in re.finditer(r"^mirror \d+ .*round_trip_ms (-?\d+)",
                                                                       run.output, re.M)]
            if self.keep_logs:
                self.keep(client, urls, run, seen)
            runs.append(run)
        return runs

    def keep(self, client, urls, run, seen):
        self.kept += 1
        os.makedirs(self.keep_logs, exist_ok=True)
        with open(os.path.join(self.keep_logs, f"{self.kept:03d}-{client}.json"), "w") as f:
            json.dump({"client": run.name, "urls": urls, "started": run.started, "wall": run.wall, "own": run.own,
                       "ok": run.ok, "output": run.output, "figures": run.mirrors,
                       "mirrors": [m.entries()[before:] for m, before in zip(self.mirrors, seen)]}, f, indent=1)


def settled_entries(mirror, seen, wait=5.0):
    """The log entries after the first `seen`, once the log has stopped growing (cut
    transfers are logged when nginx notices them)."""
    deadline = time.monotonic() + wait
    count = -1
    while True:
        entries = mirror.entries()
        if len(entries) == count or time.monotonic() > deadline:
            return entries[seen:]
        count = len(entries)
        time.sleep(0.3)


def mirror_figures(mirrors, seen, started):
    """Per mirror, from its access log: requests, bytes sent, connections opened, the most
    open at once (a connection counts from its first request's start to its last
    request's end), the share of its time that it was sending, and when its last byte
    was sent (seconds after the client started)."""
    figures = []
    for mirror, before in zip(mirrors, seen):
        entries = settled_entries(mirror, before)
        spans = {}
        for e in entries:
            begin, end = e["time"] - e["request_time"], e["time"]
            first, last = spans.get(e["connection"], (begin, end))
            spans[e["connection"]] = (min(first, begin), max(last, end))
        # At the same millisecond an opening counts before a closing.
        events = sorted([(b, 1) for b, _ in spans.values()] + [(e, -1) for _, e in spans.values()],
                        key=lambda x: (x[0], -x[1]))
        now = most = 0
        for _, step in events:
            now += step
            most = max(most, now)
        sent = [e for e in entries if e["bytes"] > 0]
        # The link is busy while a request is being answered: the union of the answers'
        # spans over the span from the first request to the last byte.
        busy, reach = 0.0, None
        for begin, end in sorted((e["time"] - e["request_time"], e["time"]) for e in sent):
            if reach is None or begin > reach:
                busy += end - begin
                reach = end
            elif end > reach:
                busy += end - reach
                reach = end
        whole = max(e["time"] for e in sent) - min(e["time"] - e["request_time"] for e in sent) if sent else 0
        figures.append({
            "busy": busy / whole if whole > 0 else None,
            "requests": len(entries),
            "bytes": sum(e["bytes"] for e in entries),
            "connections": len(spans),
            "at_once": most,
            "finish": max(e["time"] for e in sent) - started if sent else None,
        })
    return figures


def finish_spread(run):
    """Max - min of the finishing times of the mirrors that sent something."""
    times = [m["finish"] for m in run.mirrors or [] if m["finish"] is not None]
    return max(times) - min(times) if len(times) > 1 else None


def spread_bound(round_trip_ms, rates):
    """One round trip plus one block at the slowest mirror's rate, in seconds."""
    return round_trip_ms / 1000 + BLOCK / min(rates)


def print_details(title, rows, bound_of):
    """One line per client and row: share, time, peak memory, connections per mirror
    (most at once / opened, from the mirrors' logs), the share of each mirror's time from
    its first request to its last byte that it was sending, and the mirrors' finishing
    times; for our engine, the round trip it measured per mirror."""
    width = max([30] + [len(label) for label, _, _ in rows])
    print(f"\n{title}")
    print(f"  {'row':{width}} {'client':24} {'share':>7} {'secs':>7} {'peak MiB':>9} {'conns (at once/opened)':>23}"
          f"  {'busy % per mirror':17}  {'finish s per mirror':22} {'spread':>7} {'bound':>6}  "
          f"{'rtt ms (engine)':15}  ok")
    for label, runs, allowed in rows:
        bound = bound_of(label)
        for r in runs:
            conns = " ".join(f"{m['at_once']}/{m['connections']}" for m in r.mirrors)
            over = max((m["at_once"] for m in r.mirrors), default=0)
            busy = " ".join("-" if m["busy"] is None else f"{100 * m['busy']:.0f}" for m in r.mirrors)
            finish = " ".join("-" if m["finish"] is None else f"{m['finish']:.2f}" for m in r.mirrors)
            spread = finish_spread(r)
            spread_text = "-" if spread is None else f"{spread:.2f}"
            mark = "" if spread is None or spread <= bound else "!"
            rtts = " ".join(map(str, r.round_trips)) or "-"
            print(f"  {label:{width}} {r.name:24} {100 * allowed / r.download_seconds:6.1f}% {r.download_seconds:7.2f} "
                  f"{r.rss_kb / 1024:9.1f} {conns:>19}{' >4' if over > 4 else '   '}  {busy:17}  {finish:22} "
                  f"{spread_text:>6}{mark or ' '} {bound:6.2f}  {rtts:15}  {'yes' if r.ok else 'NO ' + r.note}")
