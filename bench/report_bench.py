"""The publisher's log report: stats_report against awk counting the same statistics lines
by type, over a generated access log of 5 million lines (plain, and gzip for stats_report).
Needs no root."""
import os
import shutil
import subprocess
import tempfile

from bench.common import MB, build_release, sh, timed

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


def report_bench():
    release = build_release("stats_report")
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
