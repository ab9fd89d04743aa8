"""The download part: our engine (libcurl, and WinINet under Wine) against aria2c and curl
on three nginx mirrors in a network namespace of its own. See run_bench.py for the tables."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from bench.common import (BLOCK, MB, MIB, ROOT, WINE, build_release, build_win64, end_wineserver, file_md5,
                          make_package, measure, sh, wine_env)
from bench.netlab import (CLIENT_NAMES, MIRRORS, Lab, RateDrop, limit_uplinks, print_details, spread_bound,
                          start_mirrors, start_relays, stop_mirrors, stop_processes)

FAULT_SERVER = os.path.join(ROOT, "harness", "fault_server.py")
SCENARIOS = [("equal", [2 * MB, 2 * MB, 2 * MB]), ("unequal", [4 * MB, 2 * MB, MB // 2])]
ROUND_TRIPS_MS = [0, 40, 80, 160]
DISTANCE_RATES = [4 * MB, 10 * MB]
FAR_CLIENTS = ("engine", "wine", "aria2", "aria2x4")  # the clients of the rows at a distance
TABLES = ("limits", "full", "distance", "big", "uneven", "drop", "stall", "restart")
UNEVEN_RATES = [4 * MB, 2 * MB, MB // 2]
DROP_RATES, DROP_TO = [10 * MB] * 3, 1 * MB


def add_options(parser):
    parser.add_argument("--round-trips", default=",".join(map(str, ROUND_TRIPS_MS)),
                        help="distance: round trips in ms (comma-separated)")
    parser.add_argument("--rates", default=",".join(f"{r / MB:g}" for r in DISTANCE_RATES),
                        help="distance: each mirror's rate in MB/s (comma-separated)")
    parser.add_argument("--far-mib", type=int, help="package of the distance, uneven and drop rows (96 MiB)")
    parser.add_argument("--big-mib", type=int, default=1024, help="package of the big row (1 GiB at 160 ms)")
    parser.add_argument("--far-rtt", type=int, default=80, help="round trip of the uneven and drop rows (ms)")
    parser.add_argument("--keep-logs", help="a folder to keep each run's mirror logs and client output in (JSON)")


class Packages:
    """Packages made when first asked for: random bytes in the mirrors' root, with their
    description naming the three mirrors."""

    def __init__(self, root, work, publish):
        self.root, self.work, self.publish = root, work, publish
        self.made = {}

    def get(self, mib):
        name = f"pkg{mib}.bin"
        if name not in self.made:
            path = os.path.join(self.root, name)
            digest = make_package(path, mib * MIB)
            ini = os.path.join(self.work, name + ".ini")
            urls = sum([["--url", f"http://{a}:{p}/{name}"] for a, p in MIRRORS], [])
            sh(self.publish, "write", "--file", path, "--ini", ini, "--allow-oversize", *urls,
               stdout=subprocess.DEVNULL)
            self.made[name] = (mib * MIB, digest, ini)
        return self.made[name]

    def drop(self, mib):
        """Removes a large package once its rows are done."""
        name = f"pkg{mib}.bin"
        if self.made.pop(name, None):
            os.remove(os.path.join(self.root, name))


# ---------------------------------------------------------------- outside the namespace

def outside(args):
    if os.geteuid() != 0:
        sys.exit("scripts/bench needs root (ip netns, tc)")
    if shutil.which("aria2c") is None:
        sh("apt-get", "install", "-y", "-q", "aria2")
    release = build_release("curl_fetch", "md5_bench", "publish_tool")
    win = build_win64("wininet_fetch")
    exe = os.path.join(win, "tools", "wininet_fetch", "wininet_fetch.exe")
    work = tempfile.mkdtemp(prefix="dlbench-")
    ns = f"dlbench{os.getpid()}"
    sh("ip", "netns", "add", ns)
    try:
        forwarded = ["--clients", args.clients, "--round-trips", args.round_trips, "--rates", args.rates,
                     "--big-mib", str(args.big_mib), "--far-rtt", str(args.far_rtt)]
        if args.far_mib:
            forwarded += ["--far-mib", str(args.far_mib)]
        if args.keep_logs:
            forwarded += ["--keep-logs", os.path.abspath(args.keep_logs)]
        result = sh("ip", "netns", "exec", ns, sys.executable, "-m", "bench.run_bench", "--inside", "--work", work,
                    "--release", release, "--wininet", exe, *forwarded, *(["--quick"] if args.quick else []),
                    check=False, cwd=ROOT)
        return result.returncode
    finally:
        sh("ip", "netns", "del", ns, check=False)
        shutil.rmtree(work, ignore_errors=True)


# ---------------------------------------------------------------- inside the namespace

def inside(args):
    sh("ip", "link", "set", "lo", "up")
    work = args.work
    root = os.path.join(work, "www")
    os.makedirs(root)
    packages = Packages(root, work, os.path.join(args.release, "tools", "publish", "publish_tool"))
    env = wine_env()
    clients = set(args.clients.split(","))
    # A wineserver started outside this namespace would make the sockets outside it; the
    # first run in a prefix sets it up, which is not the download's time.
    end_wineserver(env)
    if "wine" in clients:
        sh(WINE, args.wininet, env=env, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    far_mib = args.far_mib or (32 if args.quick else 96)
    mirrors = start_mirrors(root)
    lab = Lab(args.release, args.wininet, env, mirrors, work, args.keep_logs)
    tables = []
    try:
        if "distance" in clients:
            distance_table(args, lab, packages.get(far_mib), clients)
        if "big" in clients:
            big_row(args, lab, packages.get(args.big_mib), clients)
            packages.drop(args.big_mib)
        if "uneven" in clients or "drop" in clients:
            uneven_table(args, lab, packages.get(far_mib), clients)
        if "stall" in clients:
            stall_table(lab, packages.get(far_mib), root, clients)
        if "restart" in clients:
            restart_table(lab, packages.get(far_mib), mirrors)
        if "limits" in clients:
            tables += limits_tables(lab, packages.get(16 if args.quick else 64), clients)
        if "full" in clients:
            tables.append(full_table(lab, [packages.get(16 if args.quick else 64),
                                           packages.get(64 if args.quick else 256)]))
    finally:
        stop_mirrors(mirrors)
        limit_uplinks(None)
        end_wineserver(env)

    for title, limit, runs in tables:
        print(f"\n{title}")
        print(f"  {'client':38} {'wall s':>8} {'MB/s':>8} {'of limit':>9} {'CPU s':>7} {'peak MiB':>9}  ok")
        for r, size in runs:
            share = f"{100 * size / r.wall / limit:8.1f}%" if limit else f"{'-':>9}"
            print(f"  {r.name:38} {r.wall:8.2f} {size / r.wall / MB:8.2f} {share} {r.cpu:7.2f} "
                  f"{r.rss_kb / 1024:9.1f}  {'yes' if r.ok else 'NO ' + r.note}")
    if "limits" in clients or "full" in clients:
        md5_table(args.release, os.path.join(root, f"pkg{16 if args.quick else 64}.bin"))
    return 0


def urls_of(hosts, package):
    name = os.path.basename(package[2])[:-len(".ini")]
    return [f"http://{a}:{p}/{name}" for a, p in hosts]


def far_runs(lab, package, round_trip_ms, clients, around=None, timeout=900):
    """The far clients among `clients` through a delay line per mirror."""
    relays, hosts = start_relays(round_trip_ms)
    try:
        return lab.runs([c for c in FAR_CLIENTS if c in clients], package, urls_of(hosts, package), around,
                        timeout)
    finally:
        stop_processes(relays)


def cold_start_ceiling(allowed, round_trip_ms):
    """The best share any client starting cold can reach: a connection costs a round
    trip, the first request half of one, the last byte's way back the other half."""
    return allowed / (allowed + 2 * round_trip_ms / 1000)


def print_shares(title, rows, ceilings):
    """The share of what the mirrors allow, one column per client, and the cold-start
    ceiling of each row (`ceilings`: label -> share)."""
    names = [c for c in CLIENT_NAMES.values() if any(r.name == c for _, runs, _ in rows for r in runs)]
    width = max([30] + [len(label) for label, _, _ in rows])
    print(f"\n{title}")
    print(f"  {'row':{width}}" + "".join(f"{name:>26}" for name in names) + f"{'cold-start ceiling':>20}")
    for label, runs, allowed in rows:
        by_name = {r.name: r for r in runs}
        cells = []
        for name in names:
            r = by_name.get(name)
            cells.append("-" if r is None else f"{100 * allowed / r.download_seconds:6.1f}% {r.download_seconds:6.1f} s"
                         f"{'' if r.ok else ' FAILED'}")
        print(f"  {label:{width}}" + "".join(f"{c:>26}" for c in cells) + f"{100 * ceilings[label]:19.1f}%")


def progress(label, runs, allowed):
    print(f"  measured: {label}: " + ", ".join(f"{r.name} {100 * allowed / r.download_seconds:.1f}%" for r in runs),
          flush=True)


def distance_table(args, lab, package, clients):
    """Share of the link per round trip and mirror rate, one column per client."""
    n = package[0]
    rows, bounds, ceilings = [], {}, {}
    for rate in [float(r) * MB for r in args.rates.split(",")]:
        limit_uplinks([rate] * 3)
        for rtt in [int(r) for r in args.round_trips.split(",")]:
            label = f"3 x {rate / MB:g} MB/s, {rtt:3d} ms"
            runs = far_runs(lab, package, rtt, clients)
            rows.append((label, runs, n / (3 * rate)))
            bounds[label] = spread_bound(rtt, [rate] * 3)
            ceilings[label] = cold_start_ceiling(n / (3 * rate), rtt)
            progress(label, runs, n / (3 * rate))
    limit_uplinks(None)
    print_shares(f"distance: {n >> 20} MiB through a delay line per mirror, share of the link (sum of the mirrors' "
                 "rates) and seconds; our engine timed by itself from start to end (Wine's start-up left out), "
                 "aria2c by its wall time; the ceiling: the share of a client that loses nothing but the set-up's two "
                 "round trips", rows, ceilings)
    print_details("distance, per client: peak memory; connections per mirror from its log; when each mirror sent "
                  "its last byte (cut transfers included) and their spread against one round trip plus one block",
                  rows, bounds.get)


def big_row(args, lab, package, clients):
    """The largest package at 160 ms from 3 x 10 MB/s: share and peak memory."""
    n, rate, rtt = package[0], 10 * MB, 160
    limit_uplinks([rate] * 3)
    try:
        runs = far_runs(lab, package, rtt, clients, timeout=3600)
    finally:
        limit_uplinks(None)
    label = f"{n >> 20} MiB, 3 x 10 MB/s, {rtt} ms"
    rows = [(label, runs, n / (3 * rate))]
    print_shares("large package at a distance: share of the link and seconds", rows,
                 {label: cold_start_ceiling(n / (3 * rate), rtt)})
    print_details("large package, per client", rows, lambda _: spread_bound(rtt, [rate] * 3))


def uneven_table(args, lab, package, clients):
    """Unequal mirrors (4 + 2 + 0.5 MB/s), and one mirror of three at 10 MB/s dropping to
    1 MB/s half way, at --far-rtt: share of what the mirrors allow and finishing times."""
    n, rtt = package[0], args.far_rtt
    rows, bounds, ceilings = [], {}, {}
    if "uneven" in clients:
        limit_uplinks(UNEVEN_RATES)
        label = f"{' + '.join(f'{r / MB:g}' for r in UNEVEN_RATES)} MB/s, {rtt} ms"
        runs = far_runs(lab, package, rtt, clients)
        rows.append((label, runs, n / sum(UNEVEN_RATES)))
        bounds[label] = spread_bound(rtt, UNEVEN_RATES)
        ceilings[label] = cold_start_ceiling(n / sum(UNEVEN_RATES), rtt)
        progress(label, runs, n / sum(UNEVEN_RATES))
    if "drop" in clients:
        # Half the time the full rates would take; from then on the first mirror sends at
        # DROP_TO. The fastest the rates allow: half the package by then, the rest at the
        # lower sum.
        half = n / sum(DROP_RATES) / 2
        after = [DROP_TO] + DROP_RATES[1:]
        fastest = half + (n - half * sum(DROP_RATES)) / sum(after)

        def dropping(client):
            limit_uplinks(DROP_RATES)
            return RateDrop(0, DROP_TO, half)

        label = f"3 x 10 MB/s, one to 1 at {half:.1f} s, {rtt} ms"
        runs = far_runs(lab, package, rtt, clients, around=dropping)
        for r in runs:
            if r.context.dropped is None:
                r.ok, r.note = False, "the download ended before the drop"
        rows.append((label, runs, fastest))
        bounds[label] = spread_bound(rtt, after)
        ceilings[label] = cold_start_ceiling(fastest, rtt)
        progress(label, runs, fastest)
    limit_uplinks(None)
    print_shares(f"unequal and changing mirrors: {n >> 20} MiB, share of what the mirrors allow (the package's size "
                 "over the fastest time the given rates allow; a drop comes half the full-rate time after the "
                 "mirrors' first byte) and seconds", rows, ceilings)
    print_details("unequal and changing mirrors, per client", rows, bounds.get)


def stall_table(lab, package, root, clients):
    """One mirror stalls in mid-body on every answer; two good ones at 4 MB/s."""
    n = package[0]
    name = os.path.basename(package[2])[:-len(".ini")]
    rate = 4 * MB
    limit_uplinks([rate] * 3)
    stall = subprocess.Popen([sys.executable, FAULT_SERVER, "--file", os.path.join(root, name), "--mode", "stall",
                              "--port", "9090"], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    try:
        stall.stdout.readline()
        urls = [f"http://127.0.0.1:9090/{name}"] + [f"http://{a}:{p}/{name}" for a, p in MIRRORS[1:]]
        runs = lab.runs([c for c in FAR_CLIENTS if c in clients], package, urls)
    finally:
        stop_processes([stall])
        limit_uplinks(None)
    best = n / (2 * rate)
    print(f"\nstall: {n >> 20} MiB, one of three mirrors stalls in mid-body; the two good ones (2 x 4 MB/s) "
          f"allow {best:.1f} s")
    print(f"  {'client':38} {'wall s':>8} {'own s':>8} {'of best':>8}  ok")
    for r in runs:
        own = f"{r.own:8.1f}" if r.own else f"{'-':>8}"
        print(f"  {r.name:38} {r.wall:8.1f} {own} {100 * best / r.download_seconds:7.1f}%  "
              f"{'yes' if r.ok else 'NO ' + r.note}")


def restart_table(lab, package, mirrors):
    """Our engine killed at about half way and started again on the same file: the bytes
    the mirrors sent beyond the package's size, against the bound of one block per
    transfer in flight at the kill."""
    n, digest, ini = package
    out = lab.out
    rate = 4 * MB
    limit_uplinks([rate] * 3)
    if os.path.exists(out):
        os.remove(out)

    def sent():
        return sum(e["bytes"] for m in mirrors for e in m.entries())

    try:
        before = sent()
        # Line-buffered, so that the progress is read while it happens.
        first = subprocess.Popen(["stdbuf", "-oL", lab.fetch, "--no-recheck", "--ini", ini, "--out", out],
                                 stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
        try:
            for line in first.stdout:
                if line.startswith("progress") and int(line.split()[1]) >= 50:
                    break
        finally:
            first.kill()
            first.wait()
            first.stdout.close()
        time.sleep(1.0)  # nginx logs the cut transfers when it notices
        first_bytes = sent() - before
        on_disk = os.path.getsize(out)
        kept = kept_bytes(ini, out)
        second = subprocess.run([lab.fetch, "--ini", ini, "--out", out], capture_output=True, text=True)
        complete = second.returncode == 0 and file_md5(out) == digest
        second_bytes = sent() - before - first_bytes
    finally:
        limit_uplinks(None)
    again = first_bytes + second_bytes - n
    lost = first_bytes - kept
    print(f"\nkill and restart: {n >> 20} MiB from 3 x 4 MB/s, killed at 50 %, started again on the same file")
    print(f"  first run sent {first_bytes / MB:.1f} MB (file left: {on_disk / MB:.1f} MB), second run "
          f"{second_bytes / MB:.1f} MB ({'complete' if complete else 'NOT complete: ' + second.stdout[-200:]})")
    print(f"  blocks kept on disk: {kept / MB:.1f} MB; sent in the first run and not kept (lost at the kill): "
          f"{lost / MB:.2f} MB = {lost / BLOCK:.1f} blocks (in flight at the kill: up to 4 connections per mirror, "
          "each with the rest of its run)")
    print(f"  fetched beyond the package in both runs: {again / MB:.2f} MB = {again / BLOCK:.1f} blocks "
          f"(the kill's loss and the duplicates of both runs' tails)")


def kept_bytes(ini, path):
    """Bytes of the blocks of `path` that match the description `ini` (as a restart keeps them)."""
    sizes, hashes = {}, {}
    with open(ini, encoding="utf-8", errors="replace") as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            m = re.fullmatch(r"(BlockSize|Hash)(\d+)", key)
            if m:
                (sizes if m.group(1) == "BlockSize" else hashes)[int(m.group(2))] = value
    total = 0
    with open(path, "rb") as f:
        for i, size in sizes.items():
            f.seek(i * BLOCK)
            data = f.read(int(size))
            if len(data) == int(size) and hashlib.md5(data).hexdigest() == hashes.get(i, "").lower():
                total += len(data)
    return total


def limits_tables(lab, package, clients):
    """Equal and unequal mirrors next door, every client: (title, limit, [(run, size)])."""
    n = package[0]
    tables = []
    for scenario, rates in SCENARIOS:
        limit_uplinks(rates)
        runs = lab.runs(clients, package, urls_of(MIRRORS, package))
        tables.append((f"{scenario} mirrors ({' + '.join(f'{r / MB:g}' for r in rates)} MB/s), {n >> 20} MiB",
                       sum(rates), [(r, n) for r in runs]))
    limit_uplinks(None)
    return tables


def full_table(lab, packages):
    """Our engine at loopback speed: peak memory does not grow with the package."""
    runs = []
    for n, digest, ini in packages:
        for name, cmd, env in (
                (f"engine (libcurl), {n >> 20} MiB", [lab.fetch, "--no-recheck", "--ini", ini, "--out", lab.out],
                 None),
                (f"engine, no keep-alive, {n >> 20} MiB",
                 [lab.fetch, "--no-recheck", "--no-keep-alive", "--ini", ini, "--out", lab.out], None),
                (f"engine (WinINet, Wine), {n >> 20} MiB", *lab.command("wine", ini, []))):
            runs.append((measure(name, cmd, lab.out, digest, env=env), n))
    return "full loopback speed (no limit)", None, runs


def md5_table(release, data):
    line = subprocess.run([os.path.join(release, "bench", "md5_bench"), data], capture_output=True, text=True).stdout
    values = dict(l.split()[:2] for l in line.splitlines() if l.startswith("cmd5"))
    start = time.monotonic()
    sh("openssl", "dgst", "-md5", data, stdout=subprocess.DEVNULL)
    openssl = os.path.getsize(data) / (time.monotonic() - start) / MB
    print("\nMD5 throughput (MB/s, file in page cache for openssl, in memory for CMD5)")
    print(f"  CMD5 per 204,800-byte block  {float(values['cmd5_blocks_mb_s']):8.1f}")
    print(f"  CMD5 one pass                {float(values['cmd5_whole_mb_s']):8.1f}")
    print(f"  openssl dgst -md5            {openssl:8.1f}")
