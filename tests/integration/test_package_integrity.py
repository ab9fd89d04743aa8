"""The whole-package SHA-256: the publisher tool writes FileSize and FileSha256 and checks
them; under Wine the installer refuses a package whose every block matches its MD5 but
whose whole file does not match the description (the message, no setup run), and installs
what the publisher tool described."""
import hashlib
import os
import subprocess
import tempfile
import unittest

from harness.driver import WINDOW_WAIT
from harness.installer import InstallerTestCase, Sandbox, block_table, blocks_requested, config_server, stats_requests
from harness.nginx import Nginx
from tests.integration.test_download_publish import parse_ini, publish_tool

EXE = "online_installer.exe"
TITLE = "演示软件"
SUB_DIR = "DemoSoft"
INSTALL_NOW, CLOSE, START_NOW, PROGRESS = 1011, 1021, 1024, 1000
REFUSED = "安装包已损坏或被改动，请重新运行安装程序。"


def description(payload, urls, extra_keys=()):
    """A description of `payload` with its block table, as the installer reads it, plus `extra_keys`."""
    lines = ["[Info]", "FileCount=1", "[File0]", f"FileTitle={TITLE}", "DocUrl=http://127.0.0.1/licence.html",
             f"FileDir={SUB_DIR}"]
    blocks = block_table(payload)
    lines.append(f"BlockCount={len(blocks)}")
    for i, (size, digest) in enumerate(blocks):
        lines += [f"BlockSize{i}={size}", f"Hash{i}={digest}"]
    lines.append(f"urlCount={len(urls)}")
    lines += [f"url{i}={u}" for i, u in enumerate(urls)]
    lines += list(extra_keys)
    return ("\ufeff" + "\r\n".join(lines) + "\r\n").encode("utf-8")


class PublisherWholeFileTest(unittest.TestCase):
    """The publisher tool on the host."""

    def setUp(self):
        self.tool = publish_tool()
        self.tmp = tempfile.TemporaryDirectory(prefix="integrity-")
        self.addCleanup(self.tmp.cleanup)
        self.setup = os.path.join(self.tmp.name, "setup.exe")
        self.data = bytes((i * 37 + i // 1009) & 0xFF for i in range(2 * 204800 + 999))
        with open(self.setup, "wb") as f:
            f.write(self.data)
        self.ini = os.path.join(self.tmp.name, "info.ini")

    def run_tool(self, *args):
        return subprocess.run([self.tool, *args], capture_output=True, text=True, timeout=60)

    def rewrite(self, key, value):
        with open(self.ini, "rb") as f:
            text = f.read().decode("ascii")
        lines = [line for line in text.split("\r\n") if line and not line.lower().startswith(key.lower() + "=")]
        if value is not None:
            lines.append(f"{key}={value}")
        with open(self.ini, "wb") as f:
            f.write(("\r\n".join(lines) + "\r\n").encode("ascii"))

    def check(self):
        return self.run_tool("check", "--file", self.setup, "--ini", self.ini)

    def test_write_gives_size_and_digest_and_check_verifies_them(self):
        r = self.run_tool("write", "--file", self.setup, "--ini", self.ini, "--url", "http://127.0.0.1/a.exe")
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.ini, "rb") as f:
            sections, _ = parse_ini(f.read())
        self.assertEqual(sections["file0"]["filesize"], str(len(self.data)))
        self.assertEqual(sections["file0"]["filesha256"], hashlib.sha256(self.data).hexdigest())
        r = self.check()
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn("size and SHA-256", r.stdout)

    def test_check_refuses_a_digest_or_size_of_another_file(self):
        self.assertEqual(self.run_tool("write", "--file", self.setup, "--ini", self.ini, "--url",
                                       "http://127.0.0.1/a.exe").returncode, 0)
        other = hashlib.sha256(self.data + b"x").hexdigest()
        self.rewrite("FileSha256", other)
        r = self.check()
        self.assertEqual(r.returncode, 1)
        self.assertIn(f"FileSha256 is {other}", r.stdout)
        self.assertIn(hashlib.sha256(self.data).hexdigest(), r.stdout)

        self.rewrite("FileSha256", hashlib.sha256(self.data).hexdigest().upper())
        self.rewrite("FileSize", str(len(self.data) + 1))
        r = self.check()
        self.assertEqual(r.returncode, 1)
        self.assertIn(f"FileSize is {len(self.data) + 1}, the file has {len(self.data)} bytes", r.stdout)

        for bad_key, bad_value in (("FileSize", "1e6"), ("FileSha256", "abc")):
            self.rewrite("FileSize", str(len(self.data)))
            self.rewrite("FileSha256", hashlib.sha256(self.data).hexdigest())
            self.rewrite(bad_key, bad_value)
            r = self.check()
            self.assertEqual(r.returncode, 1, bad_key)
            self.assertIn("installer refuses this package", r.stdout)

    def test_older_description_without_digest_still_checks(self):
        self.assertEqual(self.run_tool("write", "--file", self.setup, "--ini", self.ini, "--url",
                                       "http://127.0.0.1/a.exe").returncode, 0)
        self.rewrite("FileSha256", None)
        self.rewrite("FileSize", "12")  # without the digest the size is not looked at
        r = self.check()
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn("no FileSha256", r.stdout)


class InstallerWholeFileTest(InstallerTestCase):
    """The installer under Wine, with the demo setup package on an nginx mirror."""

    def setUp(self):
        super().setUp()
        self.sandbox = Sandbox()
        self.addCleanup(self.sandbox.cleanup)
        self.mirror = Nginx(files={"DemoSoft.exe": self.setup}).start()
        self.addCleanup(self.mirror.cleanup)

    def start(self, ini_bytes):
        server = config_server(ini_bytes).start()
        self.addCleanup(server.cleanup)
        process = self.wine.start(self.sandbox.exe, "setup_1001_77", timeout=240,
                                  env={"DEMO_SETUP_SECONDS": "1", "DEMO_MAIN_NO_WINDOW": "1"})
        self.addCleanup(process.kill)
        window = self.driver.wait(title=TITLE, exe=EXE, timeout=WINDOW_WAIT)
        return server, process, window["hwnd"]

    def expect_refusal(self, ini_bytes):
        server, process, hwnd = self.start(ini_bytes)
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        box = self.driver.msgbox(exe=EXE, timeout=90)
        self.assertEqual(box["text"], REFUSED)
        # Every block arrived and passed its MD5 before the whole file was refused.
        self.assertEqual(blocks_requested(self.mirror.entries()), set(range(len(block_table(self.setup)))))
        self.driver.msgbox_press("OK", exe=EXE)
        self.assertFalse(self.control(hwnd, START_NOW)["visible"])
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(30), 0)
        self.assertFalse(self.installed(), "the refused package ran")
        self.assertNotIn("0", [r["type"] for r in stats_requests(server)], "no finished installation reported")

    def test_blocks_that_match_but_a_whole_file_that_does_not_are_refused(self):
        # The digest of a different file of the same size: every block's MD5 matches.
        other = bytes(reversed(self.setup))
        self.expect_refusal(description(self.setup, [self.mirror.url("/DemoSoft.exe")], [
            f"FileSize={len(self.setup)}", f"FileSha256={hashlib.sha256(other).hexdigest()}"]))

    def test_malformed_whole_file_key_is_refused(self):
        # The right digest with a size that is no number: the package can never pass.
        self.expect_refusal(description(self.setup, [self.mirror.url("/DemoSoft.exe")], [
            f"FileSize={len(self.setup)} bytes", f"FileSha256={hashlib.sha256(self.setup).hexdigest()}"]))

    def test_publisher_tool_output_installs(self):
        with tempfile.TemporaryDirectory(prefix="integrity-") as tmp:
            setup_path, ini_path = os.path.join(tmp, "DemoSoft.exe"), os.path.join(tmp, "info.ini")
            with open(setup_path, "wb") as f:
                f.write(self.setup)
            r = subprocess.run([publish_tool(), "write", "--file", setup_path, "--ini", ini_path, "--url",
                                self.mirror.url("/DemoSoft.exe"), "--title", TITLE, "--dir", SUB_DIR,
                                "--doc-url", "http://127.0.0.1/licence.html"], capture_output=True, text=True,
                               timeout=60)
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(ini_path, "rb") as f:
                ini_bytes = f.read()
        sections, _ = parse_ini(ini_bytes)
        self.assertEqual(sections["file0"]["filesha256"], hashlib.sha256(self.setup).hexdigest())
        server, process, hwnd = self.start(ini_bytes)
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        self.wait_until(lambda: (self.control(hwnd, START_NOW) or {}).get("visible"), timeout=150,
                        message="the Finish stage")
        with open(os.path.join(self.install_root, "install.log"), encoding="utf-8") as f:
            log = dict(line.split("=", 1) for line in f.read().splitlines() if "=" in line)
        self.assertEqual(log["exit_code"], "0")
        self.assertEqual([r["type"] for r in stats_requests(server)], ["1", "2", "0"])
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(30), 0)

    def test_package_of_48_mib_published_on_three_mirrors_installs(self):
        # More than the 160 blocks a 10,240-byte description could hold: the demo setup with
        # 48 MiB of data behind it, which Windows does not load.
        overlay = bytes((i * 131 + i // 4099) & 0xFF for i in range(1 << 16)) * (48 * 16)
        big = self.setup + overlay
        mirrors = [Nginx(files={"DemoSoft.exe": big}).start() for _ in range(3)]
        for m in mirrors:
            self.addCleanup(m.cleanup)
        with tempfile.TemporaryDirectory(prefix="integrity-") as tmp:
            setup_path, ini_path = os.path.join(tmp, "DemoSoft.exe"), os.path.join(tmp, "info.ini")
            with open(setup_path, "wb") as f:
                f.write(big)
            urls = []
            for m in mirrors:
                urls += ["--url", m.url("/DemoSoft.exe")]
            r = subprocess.run([publish_tool(), "write", "--file", setup_path, "--ini", ini_path, *urls,
                                "--title", TITLE, "--dir", SUB_DIR], capture_output=True, text=True, timeout=120)
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(ini_path, "rb") as f:
                ini_bytes = f.read()
        self.assertGreater(len(ini_bytes), 10240)
        blocks = len(block_table(big))
        self.assertGreater(blocks, 160)
        server, process, hwnd = self.start(ini_bytes)
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        self.wait_until(lambda: (self.control(hwnd, START_NOW) or {}).get("visible"), timeout=240,
                        message="the Finish stage")
        self.assertEqual(self.control(hwnd, PROGRESS)["pos"], 100)
        served = [sum(e["bytes"] for e in m.entries()) for m in mirrors]
        self.assertGreaterEqual(sum(served), len(big), served)
        self.assertTrue(all(served), f"every mirror served blocks: {served}")
        self.assertEqual([r["type"] for r in stats_requests(server)], ["1", "2", "0"])
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(30), 0)
        package = os.path.join(self.wine.prefix, "drive_c", "users", "Public", "Documents", f"{SUB_DIR}_1001_77.exe")
        with open(package, "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).digest(), hashlib.sha256(big).digest())


if __name__ == "__main__":
    unittest.main()
