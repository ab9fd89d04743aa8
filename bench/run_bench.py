#!/usr/bin/env python3
"""Download benchmark (not a test): the block download engine against aria2c and curl.

In a network namespace of its own (loopback only), three nginx mirrors listen on
127.0.0.1, 127.0.0.2 and 127.0.0.3; the uplink of each (its answers, matched by source
address and port) is limited by an htb class on `lo`. A 64 MiB package is downloaded by:
our engine over libcurl (host release build), our engine over WinINet under Wine (win64
build), aria2c with the three URLs (-x2 -s6) and curl from the first mirror, with equal
mirrors (2 MB/s each) and unequal ones (4, 2 and 0.5 MB/s). The table shows wall time,
throughput as a share of the limit (the sum of the uplinks; MB = 10^6 bytes), CPU time and
peak memory (of the process and the children it waited for; Wine's wineserver is not
included). Then: CMD5 against `openssl dgst -md5`, and runs at full loopback speed (64 and
256 MiB, with and without keep-alive) that show peak memory not growing with the package.

Distance: a delay line of ours (bench/delay_relay.py) in front of each mirror holds
every chunk back by half the round trip each way; our engine (libcurl and WinINet) and
aria2c -x2 -s6 fetch a 96 MiB package at round trips of 0, 40, 80 and 160 ms from three
4 MB/s and three 10 MB/s mirrors, as a share of the link. Stall: one of three mirrors sends
half of every answer and then nothing; the time to finish is set against what the two good
mirrors alone allow. Restart: the engine is killed at half way and started again; the bytes
fetched beyond the package's size.

Then packages of any size: the time to read a description of 10,486 blocks (the largest
table, some 700 KB) under Wine, in one pass with the installer's own reader and with the
Windows profile functions (one file search per key); and one 1 GiB download through the
engine at loopback speed with its peak memory. `scripts/bench description` runs only this.

The window's paint at 100 %, 150 % and 200 % display scale: the default skin's Welcome and
Install backgrounds drawn by the skin toolkit under Wine, the first paint (decoding, or the
larger copies at the other scales) and one paint after it. `scripts/bench paint` runs only
this.

Last, the publisher's log report: stats_report against awk counting the same statistics
lines by type, over a generated access log of 5 million lines (plain, and gzip for
stats_report). `scripts/bench report` runs only this part, which needs no root.

Run as root: scripts/bench [--quick] [--clients ...]. Builds what it needs in
build/bench-release and build/bench-win64.
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

from harness.nginx import Nginx
from harness.process import end_process

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
MIRRORS = [("127.0.0.1", 8081), ("127.0.0.2", 8082), ("127.0.0.3", 8083)]
MB = 1000 * 1000
SCENARIOS = [("equal", [2 * MB, 2 * MB, 2 * MB]), ("unequal", [4 * MB, 2 * MB, MB // 2])]
# Delay lines listen on 127.0.0.11-13, each in front of the mirror with the same last digit.
RELAYS = [("127.0.0.11", 9081), ("127.0.0.12", 9082), ("127.0.0.13", 9083)]
ROUND_TRIPS_MS = [0, 40, 80, 160]
DISTANCE_RATES = [4 * MB, 10 * MB]
RELAY = os.path.join(ROOT, "tools", "bench", "delay_relay.py")
FAULT_SERVER = os.path.join(ROOT, "tests", "harness", "fault_server.py")


def sh(*cmd, check=True, **kw):
    return subprocess.run(list(cmd), check=check, **kw)


# ---------------------------------------------------------------- outside the namespace

def build(args):
    release = os.path.join(ROOT, "build", "bench-release")
    if not os.path.exists(os.path.join(release, "build.ninja")):
        sh("cmake", "--preset", "host-release", "-B", release, stdout=subprocess.DEVNULL)
    sh("cmake", "--build", release, "--target", "curl_fetch", "md5_bench", "publish_tool", "-j2",
       stdout=subprocess.DEVNULL)
    win = os.path.join(ROOT, "build", "bench-win64")
    if not os.path.exists(os.path.join(win, "build.ninja")):
        sh("cmake", "--preset", "win64", "-B", win, stdout=subprocess.DEVNULL)
    sh("cmake", "--build", win, "--target", "wininet_fetch", "-j2", stdout=subprocess.DEVNULL)
    return release, os.path.join(win, "tools", "wininet_fetch", "wininet_fetch.exe")


def outside(args):
    if os.geteuid() != 0:
        sys.exit("scripts/bench needs root (ip netns, tc)")
    if shutil.which("aria2c") is None:
        sh("apt-get", "install", "-y", "-q", "aria2")
    release, exe = build(args)
    work = tempfile.mkdtemp(prefix="dlbench-")
    ns = f"dlbench{os.getpid()}"
    sh("ip", "netns", "add", ns)
    try:
        result = sh("ip", "netns", "exec", ns, sys.executable, os.path.abspath(__file__), "--inside",
                    "--work", work, "--release", release, "--wininet", exe, "--clients", args.clients,
                    *(["--quick"] if args.quick else []),
                    check=False)
        return result.returncode
    finally:
        sh("ip", "netns", "del", ns, check=False)
        shutil.rmtree(work, ignore_errors=True)


# ---------------------------------------------------------------- inside the namespace

class Run:
    def __init__(self, name, wall, cpu, rss_kb, ok, note="", own=None):
        self.name, self.wall, self.cpu, self.rss_kb, self.ok, self.note = name, wall, cpu, rss_kb, ok, note
        # Our fetch tool's own time from the manager's start to its end ("done seconds"):
        # leaves out the process's start-up, which under Wine takes seconds.
        self.own = own

    @property
    def download_seconds(self):
        return self.own or self.wall


def measure(name, cmd, out_file, expected_md5, env=None, timeout=900):
    """Runs `cmd`; wall time, CPU time and peak memory from wait4; checks the output file."""
    if out_file and os.path.exists(out_file):
        os.remove(out_file)
    log = tempfile.TemporaryFile()
    # GNU time measures: a child forked from this (large) Python process would report
    # Python's memory as its own peak.
    stats = tempfile.NamedTemporaryFile(prefix="time-", delete=False)
    stats.close()
    start = time.monotonic()
    p = subprocess.Popen(["/usr/bin/time", "-o", stats.name, "-f", "%M %U %S", *cmd], stdout=log,
                         stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=env)
    try:
        p.wait(timeout)
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
    wall = time.monotonic() - start
    with open(stats.name) as f:
        fields = f.read().split()[-3:]
    os.remove(stats.name)
    rss_kb, cpu = int(fields[0]), float(fields[1]) + float(fields[2])
    ok = p.returncode == 0
    if ok and out_file:
        ok = file_md5(out_file) == expected_md5
    log.seek(0)
    tail = log.read()[-400:].decode("utf-8", "replace")
    log.close()
    done = re.search(r"done seconds ([0-9.]+)", tail)
    return Run(name, wall, cpu, rss_kb, ok,
               "" if ok else f"exit {p.returncode}: {tail.strip().splitlines()[-1:] }",
               float(done.group(1)) if done else None)


def file_md5(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        while chunk := f.read(1 << 20):
            h.update(chunk)
    return h.hexdigest()


def make_package(path, size):
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(left, 1 << 24)
            f.write(os.urandom(n))
            left -= n
    return file_md5(path)


def limit_uplinks(rates):
    sh("tc", "qdisc", "del", "dev", "lo", "root", check=False, stderr=subprocess.DEVNULL)
    if not rates:
        return
    sh("tc", "qdisc", "add", "dev", "lo", "root", "handle", "1:", "htb", "default", "99")
    sh("tc", "class", "add", "dev", "lo", "parent", "1:", "classid", "1:99", "htb", "rate", "10gbit")
    for i, ((address, port), rate) in enumerate(zip(MIRRORS, rates), start=1):
        # tc's "bps" is bytes per second. Loopback's 64 KiB MTU keeps header overhead
        # under 0.2 %, so the payload can come close to the class rate.
        sh("tc", "class", "add", "dev", "lo", "parent", "1:", "classid", f"1:{i}", "htb", "rate", f"{rate}bps",
           "ceil", f"{rate}bps", "burst", "128k", "cburst", "128k", "quantum", "65536")
        sh("tc", "filter", "add", "dev", "lo", "parent", "1:", "protocol", "ip", "prio", "1", "u32",
           "match", "ip", "src", f"{address}/32", "match", "ip", "sport", str(port), "0xffff", "flowid", f"1:{i}")


def start_mirrors(root):
    mirrors = []
    for address, port in MIRRORS:
        mirrors.append(Nginx(address=address, port=port, root=root).start())
    return mirrors


def start_relays(round_trip_ms):
    """One delay line per mirror; returns the processes and the URL base of each."""
    relays = []
    for (address, port), (mirror, mirror_port) in zip(RELAYS, MIRRORS):
        p = subprocess.Popen([sys.executable, RELAY, "--listen", f"{address}:{port}", "--target",
                              f"{mirror}:{mirror_port}", "--delay-ms", str(round_trip_ms / 2)],
                             stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        if p.stdout.readline().strip() != b"ready":
            end_process(p)
            raise RuntimeError("delay line did not start")
        relays.append(p)
    return relays


def stop_processes(processes):
    for p in processes:
        end_process(p)
        if p.stdout:
            p.stdout.close()


def client_runs(args, ini, urls, out, digest, wine_env, aria2_extra=()):
    """Our engine over libcurl and WinINet, and aria2c, on the same mirrors."""
    fetch = os.path.join(args.release, "tools", "wininet_fetch", "curl_fetch")
    url_args = sum([["--url", u] for u in urls], [])
    runs = []
    if "engine" in args.clients:
        runs.append(measure("engine (libcurl)", [fetch, "--no-recheck", "--ini", ini, "--out", out, *url_args], out,
                            digest))
    if "wine" in args.clients:
        runs.append(measure("engine (WinINet, Wine)",
                            [WINE, args.wininet, "--no-recheck", "--ini", "Z:" + ini.replace("/", "\\"), "--out",
                             "Z:" + out.replace("/", "\\"), *url_args], out, digest, env=wine_env))
    if "aria2" in args.clients:
        runs.append(measure("aria2c -x2 -s6",
                            ["aria2c", "-x2", "-s6", "--min-split-size=1M", "--file-allocation=none",
                             "--allow-overwrite=true", "--auto-file-renaming=false", "--console-log-level=warn",
                             "--summary-interval=0", *aria2_extra, "-d", os.path.dirname(out), "-o",
                             os.path.basename(out), *urls], out, digest))
    return runs


def distance_table(args, packages, work, wine_env):
    """Share of the link per round trip and mirror rate, one column per client."""
    n, digest, ini = packages["pkg96.bin"]
    out = os.path.join(work, "out.bin")
    rows = []
    for rate in DISTANCE_RATES:
        limit_uplinks([rate] * 3)
        for rtt in ROUND_TRIPS_MS:
            relays = start_relays(rtt) if rtt else []
            hosts = RELAYS if rtt else MIRRORS
            try:
                runs = client_runs(args, ini, [f"http://{a}:{p}/pkg96.bin" for a, p in hosts], out, digest,
                                   wine_env)
            finally:
                stop_processes(relays)
            rows.append((f"3 x {rate / MB:g} MB/s, {rtt:3d} ms", runs))
            print(f"  measured: {rows[-1][0]}: " + ", ".join(
                f"{r.name} {100 * n / r.download_seconds / (3 * rate):.1f}%" for r in runs), flush=True)
    limit_uplinks(None)
    names = [r.name for r in rows[0][1]] if rows else []
    print(f"\ndistance: {n >> 20} MiB through a delay line per mirror, share of the link (sum of the mirrors' "
          "rates) and seconds; our engine timed by itself from start to end (Wine's start-up left out), "
          "aria2c by its wall time")
    print(f"  {'mirrors, round trip':24}" + "".join(f"{name:>26}" for name in names))
    for (label, runs), rate in zip(rows, [r for r in DISTANCE_RATES for _ in ROUND_TRIPS_MS]):
        cells = [f"{100 * n / r.download_seconds / (3 * rate):6.1f}% {r.download_seconds:6.1f} s"
                 f"{'' if r.ok else ' FAILED'}" for r in runs]
        print(f"  {label:24}" + "".join(f"{c:>26}" for c in cells))


def stall_table(args, packages, work, wine_env):
    """One mirror stalls in mid-body on every answer; two good ones at 4 MB/s."""
    n, digest, ini = packages["pkg96.bin"]
    out = os.path.join(work, "out.bin")
    rate = 4 * MB
    limit_uplinks([rate] * 3)
    stall = subprocess.Popen([sys.executable, FAULT_SERVER, "--file", os.path.join(work, "www", "pkg96.bin"),
                              "--mode", "stall", "--port", "9090"], stdout=subprocess.PIPE,
                             stdin=subprocess.DEVNULL)
    stall.stdout.readline()
    urls = [f"http://127.0.0.1:9090/pkg96.bin"] + [f"http://{a}:{p}/pkg96.bin" for a, p in MIRRORS[1:]]
    try:
        runs = client_runs(args, ini, urls, out, digest, wine_env)
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


def restart_table(args, packages, work, mirrors):
    """Our engine killed at about half way and started again on the same file: the bytes
    the mirrors sent beyond the package's size, against the bound of one block per
    transfer in flight at the kill."""
    n, digest, ini = packages["pkg96.bin"]
    out = os.path.join(work, "out.bin")
    fetch = os.path.join(args.release, "tools", "wininet_fetch", "curl_fetch")
    rate = 4 * MB
    limit_uplinks([rate] * 3)
    if os.path.exists(out):
        os.remove(out)

    def sent():
        return sum(e["bytes"] for m in mirrors for e in m.entries())

    try:
        before = sent()
        # Line-buffered, so that the progress is read while it happens.
        first = subprocess.Popen(["stdbuf", "-oL", fetch, "--no-recheck", "--ini", ini, "--out", out],
                                 stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
        for line in first.stdout:
            if line.startswith("progress") and int(line.split()[1]) >= 50:
                break
        first.kill()
        first.wait()
        first.stdout.close()
        time.sleep(1.0)  # nginx logs the cut transfers when it notices
        first_bytes = sent() - before
        on_disk = os.path.getsize(out)
        kept = kept_bytes(ini, out)
        second = subprocess.run([fetch, "--ini", ini, "--out", out], capture_output=True, text=True)
        complete = second.returncode == 0 and file_md5(out) == digest
        second_bytes = sent() - before - first_bytes
    finally:
        limit_uplinks(None)
    again = first_bytes + second_bytes - n
    lost = first_bytes - kept
    transfers = 2 * len(MIRRORS)
    print(f"\nkill and restart: {n >> 20} MiB from 3 x 4 MB/s, killed at 50 %, started again on the same file")
    print(f"  first run sent {first_bytes / MB:.1f} MB (file left: {on_disk / MB:.1f} MB), second run "
          f"{second_bytes / MB:.1f} MB ({'complete' if complete else 'NOT complete: ' + second.stdout[-200:]})")
    print(f"  blocks kept on disk: {kept / MB:.1f} MB; sent in the first run and not kept (lost at the kill): "
          f"{lost / MB:.2f} MB = {lost / 204800:.1f} blocks (bound: {transfers} transfers in flight, one block each)")
    print(f"  fetched beyond the package in both runs: {again / MB:.2f} MB = {again / 204800:.1f} blocks "
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
            f.seek(i * 204800)
            data = f.read(int(size))
            if len(data) == int(size) and hashlib.md5(data).hexdigest() == hashes.get(i, "").lower():
                total += len(data)
    return total


def inside(args):
    sh("ip", "link", "set", "lo", "up")
    work = args.work
    root = os.path.join(work, "www")
    os.makedirs(root)
    fetch = os.path.join(args.release, "tools", "wininet_fetch", "curl_fetch")
    publish = os.path.join(args.release, "tools", "publish", "publish_tool")
    md5_bench = os.path.join(args.release, "bench", "md5_bench")
    size = (16 if args.quick else 64) * 1024 * 1024
    big = (64 if args.quick else 256) * 1024 * 1024
    packages = {}
    far = (32 if args.quick else 96) * 1024 * 1024
    for name, n in (("pkg64.bin", size), ("pkg256.bin", big), ("pkg96.bin", far)):
        digest = make_package(os.path.join(root, name), n)
        ini = os.path.join(work, name + ".ini")
        urls = sum([["--url", f"http://{a}:{p}/{name}"] for a, p in MIRRORS], [])
        sh(publish, "write", "--file", os.path.join(root, name), "--ini", ini, "--allow-oversize", *urls,
           stdout=subprocess.DEVNULL)
        packages[name] = (n, digest, ini)

    prefix = os.path.join(ROOT, "build", "wineprefix-bench")
    wine_env = dict(os.environ, WINEPREFIX=prefix, WINEDLLOVERRIDES="mscoree,mshtml=", WINEDEBUG="-all",
                    LANG="zh_CN.UTF-8")
    # A wineserver started outside this namespace would make the sockets outside it.
    sh(WINESERVER, "-k", env=wine_env, check=False, stderr=subprocess.DEVNULL)
    sh(WINE, args.wininet, env=wine_env, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    out = os.path.join(work, "out.bin")
    mirrors = start_mirrors(root)
    tables = []
    try:
        if "distance" in args.clients:
            distance_table(args, packages, work, wine_env)
        if "stall" in args.clients:
            stall_table(args, packages, work, wine_env)
        if "restart" in args.clients:
            restart_table(args, packages, work, mirrors)
        n, digest, ini = packages["pkg64.bin"]
        urls = [f"http://{a}:{p}/pkg64.bin" for a, p in MIRRORS]
        for scenario, rates in SCENARIOS if "limits" in args.clients else ():
            limit_uplinks(rates)
            runs = []
            if "engine" in args.clients:
                runs.append(measure("engine (libcurl)", [fetch, "--no-recheck", "--ini", ini, "--out", out], out,
                                    digest))
            if "wine" in args.clients:
                runs.append(measure("engine (WinINet, Wine)",
                                    [WINE, args.wininet, "--no-recheck", "--ini", "Z:" + ini.replace("/", "\\"),
                                     "--out", "Z:" + out.replace("/", "\\")], out, digest, env=wine_env))
            if "aria2" in args.clients:
                runs.append(measure("aria2c -x2 -s6",
                                    ["aria2c", "-x2", "-s6", "--min-split-size=1M", "--file-allocation=none",
                                     "--allow-overwrite=true", "--auto-file-renaming=false",
                                     "--console-log-level=warn", "--summary-interval=0", "-d", work, "-o",
                                     "out.bin", *urls], out, digest))
            if "curl" in args.clients:
                runs.append(measure("curl, first mirror", ["curl", "-s", "-o", out, urls[0]], out, digest))
            tables.append((f"{scenario} mirrors ({' + '.join(f'{r / MB:g}' for r in rates)} MB/s), "
                           f"{n // (1024 * 1024)} MiB", n, sum(rates), runs))
        limit_uplinks(None)
        runs = []
        for name in ("pkg64.bin", "pkg256.bin") if "full" in args.clients else ():
            n, digest, ini = packages[name]
            runs.append(measure(f"engine (libcurl), {n >> 20} MiB", [fetch, "--no-recheck", "--ini", ini, "--out",
                                                                          out], out, digest))
            runs.append(measure(f"engine, no keep-alive, {n >> 20} MiB",
                                [fetch, "--no-recheck", "--no-keep-alive", "--ini", ini, "--out", out], out, digest))
            runs.append(measure(f"engine (WinINet, Wine), {n >> 20} MiB",
                                [WINE, args.wininet, "--no-recheck", "--ini", "Z:" + ini.replace("/", "\\"),
                                 "--out", "Z:" + out.replace("/", "\\")], out, digest, env=wine_env))
        tables.append(("full loopback speed (no limit)", None, None, runs))
    finally:
        for m in mirrors:
            m.cleanup()
        limit_uplinks(None)
        sh(WINESERVER, "-k", env=wine_env, check=False, stderr=subprocess.DEVNULL)

    for title, n, limit, runs in tables:
        print(f"\n{title}")
        print(f"  {'client':38} {'wall s':>8} {'MB/s':>8} {'of limit':>9} {'CPU s':>7} {'peak MiB':>9}  ok")
        for r in runs:
            size_bytes = n if n else int(r.name.rsplit(",", 1)[1].split()[0]) * 1024 * 1024
            rate = size_bytes / r.wall / MB
            share = f"{100 * size_bytes / r.wall / limit:8.1f}%" if limit else f"{'-':>9}"
            print(f"  {r.name:38} {r.wall:8.2f} {rate:8.2f} {share} {r.cpu:7.2f} {r.rss_kb / 1024:9.1f}  "
                  f"{'yes' if r.ok else 'NO ' + r.note}")

    data = os.path.join(root, "pkg64.bin")
    line = subprocess.run([md5_bench, data], capture_output=True, text=True).stdout
    values = dict(l.split()[:2] for l in line.splitlines() if l.startswith("cmd5"))
    start = time.monotonic()
    sh("openssl", "dgst", "-md5", data, stdout=subprocess.DEVNULL)
    openssl = os.path.getsize(data) / (time.monotonic() - start) / MB
    print("\nMD5 throughput (MB/s, file in page cache for openssl, in memory for CMD5)")
    print(f"  CMD5 per 204,800-byte block  {float(values['cmd5_blocks_mb_s']):8.1f}")
    print(f"  CMD5 one pass                {float(values['cmd5_whole_mb_s']):8.1f}")
    print(f"  openssl dgst -md5            {openssl:8.1f}")
    return 0


# ---------------------------------------------------------------- packages of any size

def write_description(path, blocks):
    """A description of `blocks` full blocks, three mirrors and the whole-file keys, in GBK
    (the ANSI code page of the Chinese systems the installer runs on)."""
    lines = ["[Info]", "FileCount=1", "[File0]", "FileTitle=演示软件", "DocUrl=http://127.0.0.1/licence.html",
             "FileDir=DemoSoft", f"BlockCount={blocks}"]
    for i in range(blocks):
        lines += [f"BlockSize{i}=204800", f"Hash{i}={hashlib.md5(str(i).encode()).hexdigest()}"]
    lines += ["urlCount=3"] + [f"url{i}=http://127.0.0.{i + 1}:8080/DemoSoft.exe" for i in range(3)]
    lines += [f"FileSha256={hashlib.sha256(b'x').hexdigest()}", f"FileSize={blocks * 204800}"]
    with open(path, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("gbk"))


def description_bench():
    win = os.path.join(ROOT, "build", "bench-win64")
    if not os.path.exists(os.path.join(win, "build.ninja")):
        sh("cmake", "--preset", "win64", "-B", win, stdout=subprocess.DEVNULL)
    sh("cmake", "--build", win, "--target", "description_read", "-j2", stdout=subprocess.DEVNULL)
    release = os.path.join(ROOT, "build", "bench-release")
    if not os.path.exists(os.path.join(release, "build.ninja")):
        sh("cmake", "--preset", "host-release", "-B", release, stdout=subprocess.DEVNULL)
    sh("cmake", "--build", release, "--target", "curl_fetch", "publish_tool", "-j2", stdout=subprocess.DEVNULL)
    prefix = os.path.join(ROOT, "build", "wineprefix-bench")
    wine_env = dict(os.environ, WINEPREFIX=prefix, WINEDLLOVERRIDES="mscoree,mshtml=", WINEDEBUG="-all",
                    LANG="zh_CN.UTF-8")
    work = tempfile.mkdtemp(prefix="descbench-")
    try:
        print("\npackage description of the largest table, read under Wine (ms; median of 3)")
        print(f"  {'blocks':>7} {'bytes':>9} {'own reader':>11} {'profile functions':>18}  same")
        for blocks in (10, 1000, 10486):
            ini = os.path.join(work, f"d{blocks}.ini")
            write_description(ini, blocks)
            results = []
            for _ in range(3):
                out = subprocess.run([WINE, os.path.join(win, "tools", "ini_dump", "description_read.exe"),
                                      "Z:" + ini.replace("/", "\\")], env=wine_env, capture_output=True, text=True,
                                     timeout=600)
                results.append(json.loads(out.stdout.strip().splitlines()[-1]))
            own = sorted(r["own_ms"] for r in results)[1]
            profile = sorted(r["profile_ms"] for r in results)[1]
            same = all(r["same"] and r["blocks"] == blocks for r in results)
            print(f"  {blocks:7} {results[0]['bytes']:9} {own:11} {profile:18}  {'yes' if same else 'NO'}")

        size = 1024 * 1024 * 1024
        root = os.path.join(work, "www")
        os.makedirs(root)
        package = os.path.join(root, "pkg1g.bin")
        digest = make_package(package, size)
        mirrors = [Nginx(root=root).start() for _ in range(3)]
        try:
            ini = os.path.join(work, "pkg1g.ini")
            urls = sum([["--url", m.url("/pkg1g.bin")] for m in mirrors], [])
            sh(os.path.join(release, "tools", "publish", "publish_tool"), "write", "--file", package, "--ini", ini,
               *urls, stdout=subprocess.DEVNULL)
            out = os.path.join(work, "out.bin")
            run = measure("engine (libcurl), 1 GiB, 3 mirrors",
                          [os.path.join(release, "tools", "wininet_fetch", "curl_fetch"), "--no-recheck", "--ini",
                           ini, "--out", out], out, digest, timeout=1800)
        finally:
            for m in mirrors:
                m.cleanup()
        print(f"\none 1 GiB package at loopback speed ({os.path.getsize(ini):,}-byte description, "
              f"{size // 204800 + 1} blocks)")
        print(f"  {'client':38} {'wall s':>8} {'MB/s':>8} {'CPU s':>7} {'peak MiB':>9}  ok")
        print(f"  {run.name:38} {run.wall:8.2f} {size / run.wall / MB:8.2f} {run.cpu:7.2f} "
              f"{run.rss_kb / 1024:9.1f}  {'yes' if run.ok else 'NO ' + run.note}")
    finally:
        sh(WINESERVER, "-k", env=wine_env, check=False, stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)
    return 0


# ---------------------------------------------------------------- the log report

REPORT_LINES = 5_000_000


def write_report_log(path, lines):
    """An access log of the statistics server as nginx writes it: mostly reports (encoded,
    raw with spaces, without identity; finished ones with the download's figures, failure
    reports with their reason), some other requests and some bad lines. Built from one block
    of distinct lines repeated, so that it is quick to make."""
    import random
    rng = random.Random(14)
    block = []
    for i in range(50_000):
        day = f"{1 + i % 28:02d}/Nov/2026:{i % 24:02d}:{i % 60:02d}:{(i * 7) % 60:02d} +0800"
        head = f"10.{i % 256}.{(i >> 8) % 256}.{i % 200 + 1} - - [{day}]"
        tail = '"-" "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1)"'
        partner, sub = 1000 + rng.randrange(200), rng.randrange(5)
        machine = rng.randrange(40_000)
        mac = "" if machine % 5 == 0 else f"00{machine:010x}"
        kind = rng.random()
        ptype = rng.choice((1, 1, 1, 1, 1, 2, 2, 2, 0, 0, 3))
        figures = ""
        if ptype == 0:
            secs = 5 + rng.randrange(600)
            figures = f"&secs={secs}&bytes={secs * rng.randrange(50_000, 5_000_000)}&kept=0&mirrors=3"
        elif ptype == 3:
            reason = rng.choice(("network", "proxy-login", "certificate", "server-refused", "damaged-package", "disk",
                                 "setup-exit-code"))
            figures = f"&reason={reason}&secs={rng.randrange(300)}&bytes={rng.randrange(10_000_000)}&kept=0&mirrors=2"
        if kind < 0.75:
            query = f"partnerid={partner}&partnersubid={sub}&mac={mac}&phs=WD-WCC{machine:08d}&type={ptype}{figures}"
            block.append(f'{head} "GET /api/InstallData.ashx?{query} HTTP/1.1" 200 2 {tail}')
        elif kind < 0.85:
            query = f"partnerid={partner}&partnersubid={sub}&mac={mac}&phs=  S {machine} &type={ptype}"
            block.append(f'{head} "GET /api/InstallData.ashx?{query} HTTP/1.1" 400 157 {tail}')
        elif kind < 0.95:
            block.append(f'{head} "GET /oemini/info.ini?id={rng.randrange(32768)} HTTP/1.1" 200 812 {tail}')
        elif kind < 0.98:
            block.append(f'{head} "HEAD /api/InstallData.ashx?partnerid={partner}&type=1 HTTP/1.1" 200 0 {tail}')
        else:
            block.append(f"{head} \"GET /api/InstallData.ashx?partnerid={partner}&type=")
    text = ("\n".join(block) + "\n").encode()
    with open(path, "wb") as f:
        for i in range(lines // len(block)):
            f.write(text)


def timed(cmd, stdout):
    """Wall time, CPU time (user + system) and peak memory (KiB) of `cmd`, by GNU time."""
    stats = tempfile.NamedTemporaryFile(prefix="time-", delete=False)
    stats.close()
    start = time.monotonic()
    result = subprocess.run(["/usr/bin/time", "-o", stats.name, "-f", "%M %U %S", *cmd], stdout=stdout,
                            stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
    wall = time.monotonic() - start
    with open(stats.name) as f:
        rss_kb, user, system = f.read().split()[-3:]
    os.remove(stats.name)
    if result.returncode != 0:
        sys.exit(f"{cmd[0]} failed: {result.stderr.decode(errors='replace')[-400:]}")
    return wall, float(user) + float(system), int(rss_kb)


def report_bench():
    release = os.path.join(ROOT, "build", "bench-release")
    if not os.path.exists(os.path.join(release, "build.ninja")):
        sh("cmake", "--preset", "host-release", "-B", release, stdout=subprocess.DEVNULL)
    sh("cmake", "--build", release, "--target", "stats_report", "-j2", stdout=subprocess.DEVNULL)
    tool = os.path.join(release, "tools", "stats_report", "stats_report")
    # Counts report lines (GET of the statistics path) by their type value.
    awk = ('$6 == "\\"GET" && index($7, "/api/InstallData.ashx?") == 1 { if (match($0, /[?&]type=[0-9]+/)) '
           'n[substr($0, RSTART + 6, RLENGTH - 6)]++ } END { for (t in n) print t, n[t] }')
    work = tempfile.mkdtemp(prefix="reportbench-")
    try:
        log = os.path.join(work, "access.log")
        write_report_log(log, REPORT_LINES)
        sh("gzip", "-1", "-k", log)
        size = os.path.getsize(log)
        sh("cat", log, stdout=subprocess.DEVNULL)  # into the page cache, for every run alike
        runs = []
        out = os.path.join(work, "out.txt")
        for name, cmd in ((f"awk ({os.path.basename(os.path.realpath(shutil.which('awk')))}), by type",
                           ["awk", awk, log]),
                          ("stats_report", [tool, log]),
                          ("stats_report --csv", [tool, "--csv", log]),
                          ("stats_report, gzip -1 file", [tool, log + ".gz"])):
            with open(out, "w") as f:
                wall, cpu, rss = timed(cmd, f)
            with open(out) as f:
                runs.append((name, wall, cpu, rss, f.read()))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    by_type = dict(line.split() for line in runs[0][4].splitlines())
    total = next(line.split() for line in runs[1][4].splitlines() if line.split()[0] == "total")
    print(f"\nlog report: {REPORT_LINES:,} lines, {size / MB:.0f} MB, one process each (file in page cache)")
    print(f"  {'program':30} {'wall s':>8} {'CPU s':>7} {'Mlines/s':>9} {'MB/s':>8} {'peak MiB':>9}")
    for name, wall, cpu, rss, _ in runs:
        print(f"  {name:30} {wall:8.2f} {cpu:7.2f} {REPORT_LINES / wall / 1e6:9.2f} {size / wall / MB:8.1f} "
              f"{rss / 1024:9.1f}")
    print(f"  same count: awk type 1/2/0/3 = {by_type.get('1')}/{by_type.get('2')}/{by_type.get('0')}/"
          f"{by_type.get('3')}, stats_report started/asked/done/failed = {total[1]}/{total[2]}/{total[3]}/{total[6]}")
    return 0


def paint_bench():
    win = os.path.join(ROOT, "build", "bench-win64")
    if not os.path.exists(os.path.join(win, "build.ninja")):
        sh("cmake", "--preset", "win64", "-B", win, stdout=subprocess.DEVNULL)
    sh("cmake", "--build", win, "--target", "skin_checks", "default_skin", "-j2", stdout=subprocess.DEVNULL)
    prefix = os.path.join(ROOT, "build", "wineprefix-bench")
    wine_env = dict(os.environ, WINEPREFIX=prefix, WINEDLLOVERRIDES="mscoree,mshtml=", WINEDEBUG="-all",
                    LANG="zh_CN.UTF-8")
    work = tempfile.mkdtemp(prefix="paintbench-")
    try:
        shutil.copy(os.path.join(win, "tests", "programs", "skin_checks", "skin_checks.exe"), work)
        shutil.copytree(os.path.join(win, "tests", "programs", "skin_checks", "skin"), os.path.join(work, "skin"))
        out = subprocess.run([WINE, os.path.join(work, "skin_checks.exe"), "bench"], env=wine_env,
                             capture_output=True, text=True, timeout=600)
        print("\nthe window's background at three display scales, painted under Wine (default skin)")
        print("\n".join("  " + line for line in out.stdout.strip().splitlines()))
        return out.returncode
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="16 MiB / 64 MiB packages instead of 64 / 256 MiB")
    parser.add_argument("--clients", default="engine,wine,aria2,curl,full,limits,distance,stall,restart",
                        help="which runs: clients engine, wine, aria2, curl; tables limits (equal and unequal "
                             "mirrors), full (loopback speed), distance, stall, restart (comma-separated)")
    parser.add_argument("section", nargs="?", choices=("all", "report", "description", "paint"),
                        default="all",
                        help="report: only the log report; description: only the description and 1 GiB runs; "
                             "paint: only the window paint at three display scales "
                             "(none of them needs root)")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--work", help=argparse.SUPPRESS)
    parser.add_argument("--release", help=argparse.SUPPRESS)
    parser.add_argument("--wininet", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.section == "report":
        return report_bench()
    if args.section == "description":
        return description_bench()
    if args.section == "paint":
        return paint_bench()
    if args.inside:
        return inside(args)
    status = outside(args)
    return description_bench() or paint_bench() or report_bench() or status


if __name__ == "__main__":
    sys.exit(main())
