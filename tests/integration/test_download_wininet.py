"""The installer's download engine over WinINet, under Wine, against three nginx mirrors on
127.0.0.1, 127.0.0.2 and 127.0.0.3 (and the fault server): the package arrives whole,
with the block requests the mirrors expect, and faults end in a complete file or in the
one final failure."""
import hashlib
import os
import tempfile
import time
import unittest

from harness.fault_server import FaultServer
from harness.nginx import Nginx
from harness.test_ca import TestCa
from harness.tinyproxy import Tinyproxy, system_proxy
from harness.builds import REPO, win64_exe
from harness.wine import WineSession, to_windows_path
from harness.wine_test_case import WineTestCase

BLOCK = 204800
PREFIX = os.path.join(REPO, "build", "wineprefix-download")
AGENT = "Mozilla/4.0 (compatible; MSIE 5.01; Windows NT 5.0)"


def package_bytes(size, seed):
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(f"{seed}-{counter}".encode()).digest()
        counter += 1
    return bytes(out[:size])


def write_description(path, data, urls):
    """The package description the publisher writes (one setup file)."""
    lines = ["[Info]", "FileCount=1", "[File0]", "FileTitle=Demo", "FileDir=Demo"]
    count = (len(data) + BLOCK - 1) // BLOCK
    lines.append(f"BlockCount={count}")
    for i in range(count):
        block = data[i * BLOCK:(i + 1) * BLOCK]
        lines += [f"BlockSize{i}={len(block)}", f"Hash{i}={hashlib.md5(block).hexdigest()}"]
    lines.append(f"urlCount={len(urls)}")
    lines += [f"url{i}={u}" for i, u in enumerate(urls)]
    with open(path, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")


class WinInetDownloadTest(WineTestCase):
    @classmethod
    def setUpClass(cls):
        cls.fetch = win64_exe("tools/wininet_fetch/wininet_fetch.exe")
        super().setUpClass()

    @classmethod
    def open_session(cls):
        return WineSession(prefix=PREFIX, with_display=False).open()

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="wininet-")
        self.servers = []

    def tearDown(self):
        for server in self.servers:
            server.cleanup() if isinstance(server, Nginx) else server.stop()
        self.dir.cleanup()

    def mirror(self, data, address="127.0.0.1", **options):
        web = Nginx(files={"pkg/setup.exe": data}, address=address, **options).start()
        self.servers.append(web)
        return web

    def run_fetch(self, data, urls, *extra, timeout=240):
        ini = os.path.join(self.dir.name, "info.ini")
        out = os.path.join(self.dir.name, "package.exe")
        write_description(ini, data, urls)
        result = self.wine.run(self.fetch, "--ini", to_windows_path(ini), "--out", to_windows_path(out), *extra,
                               timeout=timeout)
        self.assertFalse(result.timed_out, "the download hung:\n" + result.stdout[-3000:])
        return result, out

    def test_multi_megabyte_package_from_three_mirrors(self):
        data = package_bytes(5 * 1024 * 1024 + 12345, 1)
        mirrors = [self.mirror(data, f"127.0.0.{i}") for i in (1, 2, 3)]
        result, out = self.run_fetch(data, [m.url("/pkg/setup.exe") for m in mirrors])
        self.assertEqual(result.returncode, 0, result.stdout[-3000:] + result.stderr[-2000:])
        self.assertIn("verified yes", result.stdout)
        with open(out, "rb") as f:
            self.assertEqual(hashlib.md5(f.read()).hexdigest(), hashlib.md5(data).hexdigest())

        blocks = (len(data) + BLOCK - 1) // BLOCK
        seen = set()
        reused = False
        for web in mirrors:
            entries = web.entries()
            self.assertTrue(entries, f"mirror {web.address} served nothing")
            for e in entries:
                self.assertEqual(e["request"], "GET /pkg/setup.exe HTTP/1.1")
                self.assertEqual(e["accept"], "*/*")
                self.assertEqual(e["agent"], AGENT)
                start, end = map(int, e["range"][len("bytes="):].split("-"))
                self.assertEqual(start % BLOCK, 0)
                # A run of whole blocks and one byte more.
                self.assertEqual((end - start) % BLOCK, 0)
                seen.update(range(start // BLOCK, min(end // BLOCK, blocks)))
            # A mirror's first request is the one-block request of old; it starts together
            # with an opening run, so either may reach the mirror first.
            first_two = sorted(entries, key=lambda e: e["time"] - e["request_time"])[:2]
            self.assertIn(BLOCK, [int(e["range"].split("-")[1]) - int(e["range"][len("bytes="):].split("-")[0])
                                  for e in first_two])
            reused = reused or any(e["requests"] > 1 for e in entries)
        self.assertEqual(seen, set(range(blocks)))
        self.assertTrue(reused, "no connection served a second block: keep-alive is not working")

    def test_error_page_and_stalled_mirror_still_give_the_whole_package(self):
        data = package_bytes(2 * 1024 * 1024 + 99, 2)
        good = self.mirror(data, "127.0.0.2")
        source = os.path.join(self.dir.name, "source.bin")
        with open(source, "wb") as f:
            f.write(data)
        stall = FaultServer(source, "stall").start()
        self.servers.append(stall)
        urls = [good.url("/missing.exe"), stall.url("/pkg/setup.exe"), good.url("/pkg/setup.exe")]
        result, out = self.run_fetch(data, urls, "--timeout-ms", "2000")
        self.assertEqual(result.returncode, 0, result.stdout[-3000:])
        self.assertIn("block_error", result.stdout)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), data)

    def test_no_usable_mirror_is_one_final_failure(self):
        data = package_bytes(600000, 3)
        web = self.mirror(data)
        unresolvable = "http://" + "x" * 70 + ".invalid/setup.exe"  # never leaves the machine
        # The unresolvable mirror may be an outage: tried again until the budget is spent.
        result, _ = self.run_fetch(data, [web.url("/gone.exe"), unresolvable], "--outage-budget-ms", "3000")
        self.assertEqual(result.returncode, 1)
        finals = [line for line in result.stdout.splitlines() if line.startswith(("failed", "done"))]
        self.assertEqual(finals, ["failed 5"])  # every mirror demoted

    def test_mirror_url_reaches_the_mirror_whole(self):
        # User name and password reach the mirror; the fragment stays on this side.
        data = package_bytes(3 * BLOCK + 5, 4)
        web = Nginx(files={"private/setup.exe": data},
                    locations='location /private/ { auth_basic "mirror"; auth_basic_user_file htpasswd; }')
        with open(os.path.join(web.dir, "conf_htpasswd"), "w") as f:
            f.write("partner:{PLAIN}s3cret\n")
        web.locations = web.locations.replace("htpasswd;", os.path.join(web.dir, "conf_htpasswd") + ";")
        web.start()
        self.servers.append(web)
        url = f"http://partner:s3cret@{web.address}:{web.port}/private/setup.exe#part-2"
        result, out = self.run_fetch(data, [url])
        self.assertEqual(result.returncode, 0, result.stdout[-3000:])
        with open(out, "rb") as f:
            self.assertEqual(f.read(), data)
        served = [e for e in web.entries() if e["status"] == 206]
        self.assertTrue(served)
        for e in served:
            self.assertEqual(e["request"], "GET /private/setup.exe HTTP/1.1")
            self.assertEqual(e["user"], "partner")

    def test_stalled_mirror_is_left_by_the_rate_floor_before_any_time_out(self):
        # The platform's time-outs stay at their 15 s and 30 s; the floor, judged over 2 s
        # here, gives the stalled mirror's blocks to the good one long before.
        # nginx lets the first second's worth of each answer through at once, then paces:
        # the good mirror needs some 7 s, long enough for the floor to judge two windows.
        data = package_bytes(3 * 1024 * 1024, 5)
        good = self.mirror(data, "127.0.0.2", limit_rate="200k")
        source = os.path.join(self.dir.name, "source.bin")
        with open(source, "wb") as f:
            f.write(data)
        stall = FaultServer(source, "stall").start()
        self.servers.append(stall)
        started = time.monotonic()
        result, out = self.run_fetch(data, [stall.url("/pkg/setup.exe"), good.url("/pkg/setup.exe")],
                                     "--stall-window-ms", "2000")
        elapsed = time.monotonic() - started
        self.assertEqual(result.returncode, 0, result.stdout[-3000:])
        self.assertIn("block_error", result.stdout)
        self.assertLess(elapsed, 15)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), data)


    def test_slow_mirror_above_the_floor_is_never_cut(self):
        # 5 KB/s on one connection against the 2 KB/s floor, judged over 4 s: the whole body
        # (60,000 bytes, some 12 s) is smaller than one 64 KiB read, so the floor must see
        # the bytes as they arrive, not when a read completes.
        data = package_bytes(60000, 6)
        slow = self.mirror(data, "127.0.0.2", limit_rate="5k")
        started = time.monotonic()
        result, out = self.run_fetch(data, [slow.url("/pkg/setup.exe")], "--stall-window-ms", "4000")
        self.assertEqual(result.returncode, 0, result.stdout[-3000:])
        self.assertNotIn("block_error", result.stdout)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), data)
        print(f"\n  slow mirror: {len(data)} bytes at 5 KB/s in {time.monotonic() - started:.1f} s")

    def test_https_mirror_with_a_trusted_certificate_and_refused_ones(self):
        data = package_bytes(3 * BLOCK + 77, 7)
        ca = TestCa()
        self.addCleanup(ca.cleanup)
        good = self.mirror(data, tls=ca.issue("localhost"))
        untrusted = self.mirror(data, tls=ca.issue("localhost", self_signed=True))
        misnamed = self.mirror(data, tls=ca.issue("mirror.invalid"))
        with ca.trusted_by_host():
            result, out = self.run_fetch(data, [untrusted.url("/pkg/setup.exe"), good.url("/pkg/setup.exe")])
            self.assertEqual(result.returncode, 0, result.stdout[-3000:])
            with open(out, "rb") as f:
                self.assertEqual(f.read(), data)
            self.assertTrue(good.entries())
            os.remove(out)  # the next run starts without a package
            started = time.monotonic()
            result, _ = self.run_fetch(data, [untrusted.url("/pkg/setup.exe"), misnamed.url("/pkg/setup.exe")])
            elapsed = time.monotonic() - started
        self.assertEqual(result.returncode, 1, result.stdout[-3000:])
        self.assertLess(elapsed, 60, "certificate errors were retried as an outage")
        print(f"\n  every mirror refused for its certificate: ended after {elapsed:.1f} s")
        # Nothing was ever asked of a server whose certificate failed, and nothing over http.
        self.assertEqual(untrusted.entries(), [])
        self.assertEqual(misnamed.entries(), [])

    def test_proxy_login_is_asked_once_and_serves_every_request(self):
        data = package_bytes(4 * BLOCK + 3, 8)
        web = self.mirror(data, "127.0.0.2")
        proxy = Tinyproxy(login=("user", "pass")).start()
        self.addCleanup(proxy.cleanup)
        with system_proxy(self.wine, proxy):
            # A wrong login first: asked again, then the right one serves every block.
            result, out = self.run_fetch(data, [web.url("/pkg/setup.exe")], "--proxy-login", "user:wrong",
                                         "--proxy-login", "user:pass")
            self.assertEqual(result.returncode, 0, result.stdout[-3000:] + proxy.output()[-2000:])
            prompts = [line for line in result.stdout.splitlines() if line.startswith("proxy_prompt")]
            self.assertEqual(prompts, ["proxy_prompt 1", "proxy_prompt 2"])
            with open(out, "rb") as f:
                self.assertEqual(f.read(), data)
            served = [e for e in web.entries() if e["status"] == 206]
            self.assertTrue(served)
            through_proxy = [r for r in proxy.requests() if "/pkg/setup.exe" in r]
            self.assertGreaterEqual(len(through_proxy), len(served))
            # Three wrong logins: three prompts, then the download ends; nothing reaches the mirror.
            before = len(web.entries())
            os.remove(out)  # the next run starts without a package
            result, _ = self.run_fetch(data, [web.url("/pkg/setup.exe")], "--proxy-login", "a:1", "--proxy-login",
                                       "b:2", "--proxy-login", "c:3", "--proxy-login", "d:4")
            self.assertEqual(result.returncode, 1, result.stdout[-3000:])
            prompts = [line for line in result.stdout.splitlines() if line.startswith("proxy_prompt")]
            self.assertEqual(prompts, ["proxy_prompt 1", "proxy_prompt 2", "proxy_prompt 3"])
            self.assertEqual(len(web.entries()), before)


if __name__ == "__main__":
    unittest.main()
