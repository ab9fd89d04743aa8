"""Packages of any size: the time to read the largest description under Wine (the
installer's own reader against the Windows profile functions), and one 1 GiB download
through the engine at loopback speed with its peak memory. Needs no root."""
import hashlib
import json
import os
import shutil
import subprocess
import tempfile

from bench.common import (MB, WINE, build_release, build_win64, end_wineserver, make_package, measure, sh,
                          wine_env)
from harness.nginx import Nginx

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
    win = build_win64("description_read")
    release = build_release("curl_fetch", "publish_tool")
    env = wine_env()
    work = tempfile.mkdtemp(prefix="descbench-")
    try:
        print("\npackage description of the largest table, read under Wine (ms; median of 3)")
        print(f"  {'blocks':>7} {'bytes':>9} {'own reader':>11} {'profile functions':>18}  same")
        for blocks in (10, 1000, 10486):
            ini = os.path.join(work, f"d{blocks}.ini")
            write_description(ini, blocks)
            results = []
            for _ in range(3):
                out = subprocess.run([WINE, os.path.join(win, "tests", "programs", "ini_dump", "description_read.exe"),
                                      "Z:" + ini.replace("/", "\\")], env=env, capture_output=True, text=True,
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
        end_wineserver(env)
        shutil.rmtree(work, ignore_errors=True)
    return 0
