"""The nginx configuration in README.md ("Running the servers"), started as written (only
its port and folders moved to a private place): the configuration server serves the
description, a mirror serves byte ranges, the statistics server answers reports 200 and
logs them, also the raw ones nginx refuses, and stats_report counts that log."""
import gzip
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time
import unittest
import urllib.request

from harness.nginx import NGINX, free_port
from harness.process import end_process
from harness.builds import REPO, host_tool

BLOCK = 204800


def stats_report():
    return host_tool(os.path.join("tools", "stats_report", "stats_report"))


def readme_nginx_config():
    with open(os.path.join(REPO, "README.md"), encoding="utf-8") as f:
        text = f.read()
    section = text.split("## Running the servers", 1)[1]
    return re.search(r"```nginx\n(.*?)```", section, re.S).group(1)


class ReadmeServers:
    """nginx with the README's server blocks inside a private main configuration."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="readme-nginx-")
        self.port = free_port()
        self.process = None
        servers = readme_nginx_config()
        servers = servers.replace("listen 80", f"listen 127.0.0.1:{self.port}")
        servers = servers.replace("/srv/installer/", f"{self.dir}/srv/").replace("/var/log/nginx/", f"{self.dir}/")
        d = self.dir
        self.conf = os.path.join(d, "nginx.conf")
        with open(self.conf, "w") as f:
            f.write(f"""daemon off;
master_process off;
worker_processes 1;
pid {d}/nginx.pid;
error_log {d}/error.log warn;
events {{ worker_connections 64; }}
http {{
    client_body_temp_path {d}/client_body;
    proxy_temp_path {d}/proxy;
    fastcgi_temp_path {d}/fastcgi;
    uwsgi_temp_path {d}/uwsgi;
    scgi_temp_path {d}/scgi;
    default_type application/octet-stream;
{servers}
}}
""")

    def put(self, relative, data):
        path = os.path.join(self.dir, "srv", relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def log(self, name):
        return os.path.join(self.dir, name)

    def start(self):
        self.process = subprocess.Popen([NGINX, "-c", self.conf, "-p", self.dir, "-e", self.log("error.log")],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                with open(self.log("error.log"), errors="replace") as f:
                    raise AssertionError("nginx refused the README configuration:\n" + f.read())
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=0.5):
                    return self
            except OSError:
                time.sleep(0.05)
        raise AssertionError("nginx did not listen in time")

    def get(self, host, path, headers=None):
        """(status, body) of a GET with this Host header."""
        request = urllib.request.Request(f"http://127.0.0.1:{self.port}{path}", headers={"Host": host,
                                                                                          **(headers or {})})
        try:
            with urllib.request.urlopen(request, timeout=10) as reply:
                return reply.status, reply.read()
        except urllib.error.HTTPError as e:
            return e.code, e.read()

    def raw(self, request_bytes):
        """Sends bytes as they are (what an old installer put on the wire); the status."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as s:
            s.sendall(request_bytes)
            reply = s.recv(4096)
        return int(reply.split(b" ", 2)[1])

    def cleanup(self):
        if self.process is not None:
            end_process(self.process)
        shutil.rmtree(self.dir, ignore_errors=True)


class ReadmeServersTest(unittest.TestCase):
    def setUp(self):
        self.servers = ReadmeServers()
        self.addCleanup(self.servers.cleanup)
        self.description = b"[Info]\r\nFileCount=1\r\n"
        self.package = bytes((i * 13 + 5) % 256 for i in range(3 * BLOCK - 1000))
        self.servers.put("config/oemini/info.ini", self.description)
        self.servers.put("mirror/DemoSoft.exe", self.package)
        self.servers.start()

    def wait_for_log(self, name, lines):
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            if os.path.exists(self.servers.log(name)):
                with open(self.servers.log(name), "rb") as f:
                    if f.read().count(b"\n") >= lines:
                        return
            time.sleep(0.05)
        self.fail(f"{name} did not get {lines} lines")

    def count(self, *args):
        result = subprocess.run([stats_report(), "--csv", *args, self.servers.log("installer-stats.log")],
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        rows = [line.split(",") for line in result.stdout.splitlines()]
        # The earlier columns first, in their order; failures and download figures after them.
        self.assertEqual(rows[0][:8], ["partner", "sub", "started", "asked", "done", "machines", "conversion", "failed"])
        self.assertIn("server-refused", rows[0])
        self.assertEqual(rows[0][-3:], ["timed_downloads", "median_download_s", "median_bytes_per_s"])
        return {f"{r[0]}/{r[1]}" if r[1] else r[0]: r[2:7] for r in rows[1:]}, result.stderr

    def test_configuration_and_mirror_serve_what_the_installer_asks(self):
        self.assertEqual(self.servers.get("config.example.com", "/oemini/info.ini?id=4711"),
                         (200, self.description))
        self.assertEqual(self.servers.get("config.example.com", "/elsewhere")[0], 404)
        status, body = self.servers.get("mirror1.example.com", "/DemoSoft.exe",
                                        {"Range": f"bytes={BLOCK}-{2 * BLOCK - 1}"})
        self.assertEqual(status, 206)
        self.assertEqual(body, self.package[BLOCK:2 * BLOCK])
        status, body = self.servers.get("mirror1.example.com", "/DemoSoft.exe",
                                        {"Range": f"bytes={2 * BLOCK}-{3 * BLOCK - 1}"})
        self.assertEqual((status, body), (206, self.package[2 * BLOCK:]))
        self.wait_for_log("installer-config.log", 2)
        self.wait_for_log("installer-mirror.log", 2)

    def test_statistics_are_answered_logged_and_counted(self):
        stats = "stats.example.com"
        query = "partnerid=1001&partnersubid=77&mac=001a2b3c4d5e&phs=WD%20123&type="
        for report_type in (1, 2, 0):
            self.assertEqual(self.servers.get(stats, f"/api/InstallData.ashx?{query}{report_type}"), (200, b"ok"))
        # An older installer on another partner: the serial with its space as it was.
        self.assertEqual(self.servers.raw(b"GET /api/InstallData.ashx?partnerid=1002&partnersubid=0"
                                          b"&mac=001a2b3c4d5e&phs=WD 123&type=1 HTTP/1.1\r\n"
                                          b"Host: stats.example.com\r\n\r\n"), 400)
        self.assertEqual(self.servers.get(stats, "/favicon.ico")[0], 404)
        self.wait_for_log("installer-stats.log", 5)

        rows, summary = self.count()
        self.assertEqual(rows["1001/77"], ["1", "1", "1", "1", "100.0"])
        self.assertEqual(rows["1002/0"], ["1", "0", "0", "1", "0.0"])
        self.assertEqual(rows["total"], ["2", "1", "1", "1", "50.0"])
        self.assertIn("5 lines: 4 reports counted", summary)
        self.assertIn("1 other requests", summary)

        rows, _ = self.count("--partner", "1002")
        self.assertEqual(list(rows), ["1002/0", "total"])

        # The same log compressed on standard input, next to a rotated log cut short:
        # the cut is reported (exit status 2) and the lines before it still count.
        with open(self.servers.log("installer-stats.log"), "rb") as f:
            packed = gzip.compress(f.read())
        cut = self.servers.log("installer-stats.log.2.gz")
        with open(cut, "wb") as f:
            f.write(gzip.compress(b"\n".join([b'1.2.3.4 - - [07/Dec/2026:10:00:00 +0000] "GET /api/InstallData.ashx?'
                                              b'partnerid=7&partnersubid=0&mac=&phs=&type=1 HTTP/1.1" 200 2 "-" "-"']
                                             * 5000))[:-100])
        result = subprocess.run([stats_report(), "--csv", "-", cut], input=packed, capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"installer-stats.log.2.gz: the compressed file is cut short", result.stderr)
        rows = {line.split(b",")[0]: line.split(b",")[2] for line in result.stdout.splitlines()[1:]}
        self.assertEqual(rows[b"1001"], b"1")
        self.assertGreater(int(rows[b"7"]), 4000)


if __name__ == "__main__":
    unittest.main()
