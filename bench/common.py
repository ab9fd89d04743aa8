"""What the benchmark's parts share: running and timing programs, packages, builds, Wine."""
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
MB = 1000 * 1000
MIB = 1024 * 1024
BLOCK = 204800
RELEASE = os.path.join(ROOT, "build", "bench-release")
WIN64 = os.path.join(ROOT, "build", "bench-win64")


def sh(*cmd, check=True, **kw):
    return subprocess.run(list(cmd), check=check, **kw)


def build_release(*targets):
    """The host release build of the benchmark (build/bench-release) with `targets` built."""
    if not os.path.exists(os.path.join(RELEASE, "build.ninja")):
        sh("cmake", "--preset", "host-release", "-B", RELEASE, stdout=subprocess.DEVNULL)
    sh("cmake", "--build", RELEASE, "--target", *targets, "-j2", stdout=subprocess.DEVNULL)
    return RELEASE


def build_win64(*targets, tree=None):
    """The win64 build of the benchmark (build/bench-win64 unless `tree`) with `targets` built."""
    tree = tree or WIN64
    if not os.path.exists(os.path.join(tree, "build.ninja")):
        sh("cmake", "--preset", "win64", "-B", tree, stdout=subprocess.DEVNULL)
    sh("cmake", "--build", tree, "--target", *targets, "-j2", stdout=subprocess.DEVNULL)
    return tree


def wine_env():
    """The environment of the benchmark's own Wine prefix."""
    return dict(os.environ, WINEPREFIX=os.path.join(ROOT, "build", "wineprefix-bench"),
                WINEDLLOVERRIDES="mscoree,mshtml=", WINEDEBUG="-all", LANG="zh_CN.UTF-8")


def end_wineserver(env):
    sh(WINESERVER, "-k", env=env, check=False, stderr=subprocess.DEVNULL)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class Run:
    """One client's download: wall time, CPU time, peak memory, whether the file is right."""

    def __init__(self, name, wall, cpu, rss_kb, ok, note="", own=None, started=0.0):
        self.name, self.wall, self.cpu, self.rss_kb, self.ok, self.note = name, wall, cpu, rss_kb, ok, note
        # Our fetch tool's own time from the manager's start to its end ("done seconds"):
        # leaves out the process's start-up, which under Wine takes seconds.
        self.own = own
        self.started = started  # the start on the wall clock (seconds since the epoch)
        self.mirrors = None  # per mirror, from its log (see netlab.mirror_figures)

    @property
    def download_seconds(self):
        return self.own or self.wall


def measure(name, cmd, out_file, expected_md5, env=None, timeout=900):
    """Runs `cmd`; wall time, CPU time and peak memory by GNU time; checks the output file."""
    if out_file and os.path.exists(out_file):
        os.remove(out_file)
    log = tempfile.TemporaryFile()
    # GNU time measures: a child forked from this (large) Python process would report
    # Python's memory as its own peak.
    stats = tempfile.NamedTemporaryFile(prefix="time-", delete=False)
    stats.close()
    started = time.time()
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
    output = log.read()[-8000:].decode("utf-8", "replace")
    tail = output[-400:]
    log.close()
    done = re.search(r"done seconds ([0-9.]+)", tail)
    run = Run(name, wall, cpu, rss_kb, ok, "" if ok else f"exit {p.returncode}: {tail.strip().splitlines()[-1:]}",
              float(done.group(1)) if done else None, started)
    run.output = output
    return run


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


def file_md5(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        while chunk := f.read(1 << 20):
            h.update(chunk)
    return h.hexdigest()


def make_package(path, size):
    """A file of `size` random bytes; returns its MD5."""
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(left, 1 << 24)
            f.write(os.urandom(n))
            left -= n
    return file_md5(path)
