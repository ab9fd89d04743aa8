#!/usr/bin/env python3
"""Benchmarks (not tests): the download engine against aria2c and curl, and more.

Download (bench/download_bench.py, bench/netlab.py; needs root): in a network namespace of
its own (loopback only), three nginx mirrors listen on 127.0.0.1, 127.0.0.2 and 127.0.0.3;
the uplink of each (its answers, matched by source address and port) is limited by an htb
class on `lo`. Clients: our engine over libcurl (host release build), our engine over WinINet
under Wine (win64 build), aria2c with the three URLs at -x2 -s6 and at -x4 -s12 (as many
connections per mirror as our engine opens at most), and curl from the first mirror. Tables,
each selected by its name in --clients:

- limits: a 64 MiB package from equal mirrors (2 MB/s each) and unequal ones (4, 2 and
  0.5 MB/s): wall time, throughput as a share of the limit (the sum of the uplinks; MB =
  10^6 bytes), CPU time and peak memory (of the process and the children it waited for;
  Wine's wineserver is not included); then CMD5 against `openssl dgst -md5`.
- full: runs at full loopback speed (64 and 256 MiB, with and without keep-alive) that show
  peak memory not growing with the package.
- distance: a delay line of ours (bench/delay_relay.py) in front of each mirror holds every
  chunk back by half the round trip each way; a 96 MiB package at round trips of 0, 40, 80
  and 160 ms from three 4 MB/s and three 10 MB/s mirrors, as a share of the link.
- big: one 1 GiB package at 160 ms from three 10 MB/s mirrors.
- uneven: mirrors of 4 + 2 + 0.5 MB/s at 80 ms; drop: three 10 MB/s mirrors at 80 ms of which
  one drops to 1 MB/s half way (its tc class changed half the full-rate time after the
  mirrors' first byte); both as a share of what the mirrors allow (the package's size over
  the fastest time the given rates allow).
  Each row of distance, big, uneven and drop also prints per client its peak memory, the
  connections per mirror from the mirrors' logs (most open at once / opened; the engine's
  bound is 4), when each mirror sent its last byte and the spread of those times against
  one round trip plus one block at the slowest mirror's rate.
- stall: one of three mirrors sends half of every answer and then nothing; the time to
  finish against what the two good mirrors alone allow.
- restart: the engine is killed at half way and started again; the bytes fetched beyond the
  package's size.
Short runs: --round-trips 80 --rates 4 --far-mib 8 --big-mib 16 --clients engine,distance.

Packages of any size (bench/package_bench.py): the time to read a description of 10,486
blocks (the largest table, some 700 KB) under Wine, in one pass with the installer's own
reader and with the Windows profile functions (one file search per key); and one 1 GiB
download through the engine at loopback speed with its peak memory. `scripts/bench
description` runs only this.

The window's paint at 100 %, 150 % and 200 % display scale (bench/window_bench.py): the
default skin's Welcome and Install backgrounds drawn by the skin toolkit under Wine, the
first paint and one paint after it. `scripts/bench paint` runs only this.

The stub (bench/window_bench.py): the shipped single file (build/win32) and what it is made
of, and its start-up under Wine: from process start to the Welcome window painted against
the smallest window program (bench/minimal_window) in the same run, as a ratio. `scripts/bench
stub` runs only this.

Last, the publisher's log report (bench/report_bench.py): stats_report against awk over a
generated access log of 5 million lines. `scripts/bench report` runs only this.

Run as root: scripts/bench [--quick] [--clients ...] [section]. Builds what it needs in
build/bench-release and build/bench-win64. `scripts/bench download` runs only the download
part.
"""
import argparse
import sys

from bench import download_bench
from bench.netlab import CLIENT_NAMES
from bench.package_bench import description_bench
from bench.report_bench import report_bench
from bench.window_bench import paint_bench, stub_bench


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true",
                        help="16 / 64 / 32 MiB packages instead of 64 / 256 / 96 MiB (limits, full, distance)")
    parser.add_argument("--clients", default=",".join([*CLIENT_NAMES, *download_bench.TABLES]),
                        help=f"which runs (comma-separated): clients {', '.join(CLIENT_NAMES)}; tables "
                             f"{', '.join(download_bench.TABLES)}")
    download_bench.add_options(parser)
    parser.add_argument("section", nargs="?", choices=("all", "download", "report", "description", "paint", "stub"),
                        default="all",
                        help="download: only the download tables (root); report: only the log report; "
                             "description: only the description and 1 GiB runs; "
                             "paint: only the window paint at three display scales; "
                             "stub: only the shipped file's size and start-up "
                             "(none of the last four needs root)")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--work", help=argparse.SUPPRESS)
    parser.add_argument("--release", help=argparse.SUPPRESS)
    parser.add_argument("--wininet", help=argparse.SUPPRESS)
    args = parser.parse_args()
    unknown = set(args.clients.split(",")) - set(CLIENT_NAMES) - set(download_bench.TABLES)
    if unknown:
        parser.error(f"--clients: unknown {', '.join(sorted(unknown))}")
    if args.inside:
        return download_bench.inside(args)
    if args.section == "report":
        return report_bench()
    if args.section == "description":
        return description_bench()
    if args.section == "paint":
        return paint_bench()
    if args.section == "stub":
        return stub_bench()
    status = download_bench.outside(args)
    if args.section == "download":
        return status
    return description_bench() or paint_bench() or stub_bench() or report_bench() or status


if __name__ == "__main__":
    sys.exit(main())
