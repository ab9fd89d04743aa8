"""Signed package descriptions.

On the host: the publisher tool's keygen, sign and check against OpenSSL's own
verification. Under Wine: the installer linked with the test publisher key
(online_installer_test_key.exe of the win64 build) acts only on a description that
carries the publisher's signature: an unsigned, altered, foreign-key, expired or
oversized-signature description stops start-up with its message, before any mirror is
asked for anything; a signed one installs through the real window. The build without a
key makes no signature request.
"""
import datetime
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from harness.driver import Driver, WINDOW_WAIT, child
from harness.installer import InstallerTestCase, Sandbox, block_table, blocks_requested, config_server, stats_requests
from harness.nginx import Nginx
from harness.builds import REPO, win64_exe
from harness.wine_test_case import WineTestCase
from tests.integration.test_download_publish import publish_tool

EXE = "online_installer.exe"
TITLE = "演示软件"
SUB_DIR = "DemoSoft"
INSTALL_NOW, CLOSE, START_NOW, LICENCE_LINK = 1011, 1021, 1024, 1020
TEST_PRIVATE_KEY = os.path.join(REPO, "tests", "keys", "test_only_publisher_private.pem")
TEST_PUBLIC_KEY = os.path.join(REPO, "tests", "keys", "test_only_publisher_public.pem")

SIGNATURE_MISSING = "无法取得安装包描述的发布者签名。为安全起见，安装已停止，请稍后重试或联系软件发布者。"
SIGNATURE_INVALID = "安装包描述的发布者签名无效，可能已被篡改。为安全起见，安装已停止。"
EXPIRED = "安装包描述已过期。为安全起见，安装已停止，请从软件发布者处获取最新的安装程序。"
NO_WHOLE_FILE_KEYS = ("安装包描述缺少文件大小或 SHA-256 校验值（FileSize、FileSha256）。为安全起见，安装已停止，"
                      "请联系软件发布者。")


TEST_KEY_INSTALLER = os.path.join("src", "app", "online_installer_test_key.exe")


def run(*args):
    return subprocess.run(list(args), capture_output=True, timeout=60)


def openssl_sign(key, data):
    """The DER signature OpenSSL itself makes of `data`."""
    with tempfile.NamedTemporaryFile() as f:
        f.write(data)
        f.flush()
        r = run("openssl", "dgst", "-sha256", "-sign", key, f.name)
    assert r.returncode == 0, r.stderr
    return r.stdout


def edit_text(ini_bytes, change):
    """`ini_bytes` with `change` applied to its text, in the encoding the tool chose
    (UTF-16LE with a byte-order mark when the title is Chinese, else ASCII)."""
    if ini_bytes.startswith(b"\xff\xfe"):
        return b"\xff\xfe" + change(ini_bytes[2:].decode("utf-16-le")).encode("utf-16-le")
    return change(ini_bytes.decode("ascii")).encode("ascii")


def without_key(ini_bytes, key):
    return edit_text(ini_bytes, lambda text: "\r\n".join(
        line for line in text.split("\r\n") if not line.lower().startswith(key.lower() + "=")))


def write_description(tmp, payload, urls, extra=()):
    """A description of `payload` made by the publisher tool, with `extra` lines added."""
    setup, ini = os.path.join(tmp, "DemoSoft.exe"), os.path.join(tmp, "info.ini")
    with open(setup, "wb") as f:
        f.write(payload)
    args = [publish_tool(), "write", "--file", setup, "--ini", ini, "--title", TITLE, "--dir", SUB_DIR,
            "--doc-url", "http://127.0.0.1/licence.html"]
    for u in urls:
        args += ["--url", u]
    r = subprocess.run(args, capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, r.stderr
    with open(ini, "rb") as f:
        data = f.read()
    for line in extra:
        data = edit_text(data, lambda text, line=line: text.replace("[Info]\r\n", f"[Info]\r\n{line}\r\n", 1))
    return data


class PublisherSigningTest(unittest.TestCase):
    """keygen, sign and check of the publisher tool, against OpenSSL's own verification."""

    def setUp(self):
        self.tool = publish_tool()
        self.tmp = tempfile.mkdtemp(prefix="signing-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.payload = bytes((i * 31 + 7) & 0xFF for i in range(300000))
        self.ini_bytes = write_description(self.tmp, self.payload, ["http://127.0.0.1/DemoSoft.exe"])
        self.setup = os.path.join(self.tmp, "DemoSoft.exe")
        self.ini = os.path.join(self.tmp, "info.ini")
        self.key = os.path.join(self.tmp, "private.pem")
        self.pub = os.path.join(self.tmp, "public.pem")
        r = run(self.tool, "keygen", "--key", self.key, "--public-key", self.pub)
        self.assertEqual(r.returncode, 0, r.stderr)

    def openssl_verifies(self, pub, sig, data_path):
        r = run("openssl", "dgst", "-sha256", "-verify", pub, "-signature", sig, data_path)
        return r.returncode == 0 and b"Verified OK" in r.stdout

    def check(self, *extra):
        return subprocess.run([self.tool, "check", "--file", self.setup, "--ini", self.ini, "--public-key", self.pub,
                               *extra], capture_output=True, text=True, timeout=60)

    def test_keygen_makes_a_private_p256_key_for_its_owner_and_its_public_key(self):
        self.assertEqual(os.stat(self.key).st_mode & 0o077, 0, "the private key is readable by its owner only")
        text = run("openssl", "pkey", "-in", self.key, "-text", "-noout").stdout.decode()
        self.assertIn("prime256v1", text)
        derived = run("openssl", "pkey", "-in", self.key, "-pubout").stdout
        with open(self.pub, "rb") as f:
            self.assertEqual(f.read(), derived)
        # An existing private key is never overwritten.
        r = run(self.tool, "keygen", "--key", self.key, "--public-key", self.pub + "2")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(run("openssl", "pkey", "-in", self.key, "-pubout").stdout, derived)

    def test_sign_writes_what_openssl_verifies_and_check_agrees(self):
        r = run(self.tool, "sign", "--ini", self.ini, "--key", self.key)
        self.assertEqual(r.returncode, 0, r.stderr)
        sig = self.ini + ".sig"
        self.assertLessEqual(os.path.getsize(sig), 72)
        self.assertTrue(self.openssl_verifies(self.pub, sig, self.ini))
        r = self.check()
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn("verifies", r.stdout)

        # One byte changed where the reading does not see it (key names match without regard
        # to case): OpenSSL and the tool both refuse.
        key = "FileTitle".encode("utf-16-le")
        self.assertIn(key, self.ini_bytes)
        with open(self.ini, "wb") as f:
            f.write(self.ini_bytes.replace(key, "fileTitle".encode("utf-16-le"), 1))
        self.assertFalse(self.openssl_verifies(self.pub, sig, self.ini))
        r = self.check()
        self.assertEqual(r.returncode, 1)
        self.assertIn("does not verify", r.stdout)

    def test_check_takes_openssl_signatures_and_refuses_another_key(self):
        with open(self.ini + ".sig", "wb") as f:
            f.write(openssl_sign(self.key, self.ini_bytes))
        self.assertEqual(self.check().returncode, 0)
        with open(self.ini + ".sig", "wb") as f:
            f.write(openssl_sign(TEST_PRIVATE_KEY, self.ini_bytes))
        self.assertTrue(self.openssl_verifies(TEST_PUBLIC_KEY, self.ini + ".sig", self.ini))
        r = self.check()
        self.assertEqual(r.returncode, 1)
        self.assertIn("does not verify", r.stdout)
        self.assertEqual(self.check("--sig", os.path.join(self.tmp, "none.sig")).returncode, 1)

    def test_sign_refuses_what_the_installer_would_refuse(self):
        without = without_key(self.ini_bytes, "FileSha256")
        with open(self.ini, "wb") as f:
            f.write(without)
        r = run(self.tool, "sign", "--ini", self.ini, "--key", self.key)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"FileSha256", r.stdout)
        self.assertFalse(os.path.exists(self.ini + ".sig"))
        with open(self.ini, "wb") as f:
            f.write(edit_text(self.ini_bytes, lambda t: t.replace("[Info]\r\n", "[Info]\r\nExpires=2020-01-31\r\n")))
        r = run(self.tool, "sign", "--ini", self.ini, "--key", self.key)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Expires has passed", r.stdout)
        self.assertFalse(os.path.exists(self.ini + ".sig"))
        # A key of another curve is refused, not used.
        other = os.path.join(self.tmp, "p384.pem")
        self.assertEqual(run("openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-384",
                             "-out", other).returncode, 0)
        with open(self.ini, "wb") as f:
            f.write(self.ini_bytes)
        r = run(self.tool, "sign", "--ini", self.ini, "--key", other)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"not an ECDSA P-256 key", r.stderr)


class SignedInstallerTest(InstallerTestCase):
    """The installer built with the test publisher key, under Wine."""

    @classmethod
    def setUpClass(cls):
        cls.signed_exe = win64_exe(TEST_KEY_INSTALLER)
        super().setUpClass()

    def setUp(self):
        super().setUp()
        self.sandbox = Sandbox()
        self.addCleanup(self.sandbox.cleanup)
        shutil.copy2(self.signed_exe, self.sandbox.exe)
        self.mirror = Nginx(files={"DemoSoft.exe": self.setup}).start()
        self.addCleanup(self.mirror.cleanup)
        self.attacker = Nginx(files={"DemoSoft.exe": bytes(reversed(self.setup))}).start()
        self.addCleanup(self.attacker.cleanup)
        self.tmp = tempfile.mkdtemp(prefix="signed-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def description(self, extra=(), mirror=None):
        payload = self.setup if mirror is None else bytes(reversed(self.setup))
        return write_description(self.tmp, payload, [(mirror or self.mirror).url("/DemoSoft.exe")], extra)

    def serve(self, ini_bytes, sig=None):
        files = {} if sig is None else {"oemini/info.ini.sig": sig}
        server = config_server(ini_bytes, extra_files=files)
        return server

    def start(self, server):
        server.start()
        self.addCleanup(server.cleanup)
        process = self.wine.start(self.sandbox.exe, "setup_1001_77", timeout=240,
                                  env={"DEMO_SETUP_SECONDS": "1", "DEMO_MAIN_NO_WINDOW": "1"})
        self.addCleanup(process.kill)
        return process

    def expect_refusal(self, server, message):
        process = self.start(server)
        box = self.driver.msgbox(exe=EXE, timeout=90)
        self.assertEqual(box["text"], message)
        self.driver.msgbox_press("OK", exe=EXE)
        self.assertEqual(process.wait(30), 0)
        self.assertEqual(self.driver.list(exe=EXE, title=TITLE), [], "no window for a refused description")
        self.assertEqual(self.mirror.requests(), [], "no mirror asked")
        self.assertEqual(self.attacker.requests(), [], "the attacker's program was never requested")
        self.assertFalse(self.installed(), "nothing ran")
        with open(self.sandbox.path("info.ini"), "rb") as f:
            self.assertEqual(f.read(), b"", "nothing of a refused description is stored")
        self.assertNotIn("0", [r["type"] for r in stats_requests(server)])
        return server

    def test_unsigned_description_is_refused(self):
        server = self.expect_refusal(self.serve(self.description()), SIGNATURE_MISSING)
        self.assertTrue(any(r.startswith("GET /oemini/info.ini.sig?id=") for r in server.requests()))

    def test_altered_description_with_the_original_signature_is_refused(self):
        genuine = self.description()
        altered = self.description(mirror=self.attacker)
        self.assertNotEqual(genuine, altered)
        self.expect_refusal(self.serve(altered, openssl_sign(TEST_PRIVATE_KEY, genuine)), SIGNATURE_INVALID)

    def test_signature_by_another_key_is_refused(self):
        other = os.path.join(self.tmp, "other.pem")
        self.assertEqual(run(publish_tool(), "keygen", "--key", other, "--public-key", other + ".pub").returncode, 0)
        ini = self.description(mirror=self.attacker)
        self.expect_refusal(self.serve(ini, openssl_sign(other, ini)), SIGNATURE_INVALID)

    def test_signature_of_another_description_is_refused(self):
        other = self.description(extra=["Rate0=99"])
        self.expect_refusal(self.serve(self.description(mirror=self.attacker), openssl_sign(TEST_PRIVATE_KEY, other)),
                            SIGNATURE_INVALID)

    def test_expired_signed_description_is_refused(self):
        yesterday = (datetime.datetime.now(datetime.timezone.utc).date() - datetime.timedelta(days=1)).isoformat()
        ini = self.description(extra=[f"Expires={yesterday}"])
        self.expect_refusal(self.serve(ini, openssl_sign(TEST_PRIVATE_KEY, ini)), EXPIRED)

    def test_signed_description_without_whole_file_digest_is_refused(self):
        ini = without_key(self.description(), "FileSha256")
        self.expect_refusal(self.serve(ini, openssl_sign(TEST_PRIVATE_KEY, ini)), NO_WHOLE_FILE_KEYS)

    def test_one_gibibyte_signature_is_refused_without_reading_it(self):
        server = self.serve(self.description())
        path = server.put("oemini/info.ini.sig", b"")
        os.truncate(path, 1 << 30)  # sparse: no disk space taken
        self.expect_refusal(server, SIGNATURE_INVALID)
        # Asked for the first 257 bytes only, and sent no more.
        entry = self.wait_until(lambda: [e for e in server.entries() if e["request"].startswith(
            "GET /oemini/info.ini.sig")], timeout=30, message="the signature request in the log")[0]
        self.assertEqual(entry["status"], 206)
        self.assertEqual(entry["bytes"], 257)

    def test_long_signature_from_a_server_ignoring_the_range_is_refused(self):
        # The installer itself stops reading after 257 bytes.
        server = config_server(self.description(), extra_files={"oemini/info.ini.sig": b"\x30" * (1 << 20)},
                               locations="location = /oemini/info.ini.sig { max_ranges 0; }")
        self.expect_refusal(server, SIGNATURE_INVALID)
        entry = [e for e in server.entries() if e["request"].startswith("GET /oemini/info.ini.sig")][0]
        self.assertEqual(entry["status"], 200)

    def test_home_mode_takes_the_signature_beside_home_ini(self):
        genuine = self.description()
        # The description served as home.ini, with info.ini's signature only: refused.
        server = config_server(None, home_description=genuine,
                               extra_files={"oemini/info.ini.sig": openssl_sign(TEST_PRIVATE_KEY, genuine)})
        server.start()
        self.addCleanup(server.cleanup)
        process = self.wine.start(self.sandbox.exe, "x_5_7_homepg", timeout=90)
        self.addCleanup(process.kill)
        box = self.driver.msgbox(exe=EXE, timeout=90)
        self.assertEqual(box["text"], SIGNATURE_MISSING)
        self.driver.msgbox_press("OK", exe=EXE)
        self.assertEqual(process.wait(30), 0)
        self.assertTrue(any(r.startswith("GET /oemini/home.ini.sig?id=") for r in server.requests()))
        # With its own signature beside it, the window opens.
        server.put("oemini/home.ini.sig", openssl_sign(TEST_PRIVATE_KEY, genuine))
        process = self.wine.start(self.sandbox.exe, "x_5_7_homepg", timeout=90)
        self.addCleanup(process.kill)
        hwnd = self.driver.wait(title=TITLE, exe=EXE, timeout=WINDOW_WAIT)["hwnd"]
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(30), 0)
        with open(self.sandbox.path("home.ini"), "rb") as f:
            self.assertEqual(f.read(), genuine)

    def test_signed_description_installs_through_the_window(self):
        tomorrow = (datetime.datetime.now(datetime.timezone.utc).date() + datetime.timedelta(days=1)).isoformat()
        ini = self.description(extra=[f"Expires={tomorrow}"])
        with open(os.path.join(self.tmp, "info.ini"), "wb") as f:
            f.write(ini)
        r = run(publish_tool(), "sign", "--ini", os.path.join(self.tmp, "info.ini"), "--key", TEST_PRIVATE_KEY)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(os.path.join(self.tmp, "info.ini.sig"), "rb") as f:
            sig = f.read()
        server = self.serve(ini, sig)
        process = self.start(server)
        window = self.driver.wait(title=TITLE, exe=EXE, timeout=WINDOW_WAIT)
        hwnd = window["hwnd"]
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        self.wait_until(lambda: (child(self.driver.window(hwnd), START_NOW) or {}).get("visible"), timeout=150,
                        message="the Finish stage")
        with open(os.path.join(self.install_root, "install.log"), encoding="utf-8") as f:
            log = dict(line.split("=", 1) for line in f.read().splitlines() if "=" in line)
        self.assertEqual(log["exit_code"], "0")
        self.assertEqual([r["type"] for r in stats_requests(server)], ["1", "2", "0"])
        self.assertEqual(blocks_requested(self.mirror.entries()), set(range(len(block_table(self.setup)))))
        with open(self.sandbox.path("info.ini"), "rb") as f:
            self.assertEqual(f.read(), ini, "the stored description is the signed bytes")
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(30), 0)


class UnsignedBuildTest(WineTestCase):
    """The build without a key: descriptions are taken as before, with no signature request."""

    def test_no_signature_request(self):
        sandbox = Sandbox()
        self.addCleanup(sandbox.cleanup)
        driver = Driver(self.wine)
        with tempfile.TemporaryDirectory(prefix="unsigned-") as tmp:
            ini = write_description(tmp, bytes(3000), ["http://127.0.0.1:9/none.exe"])
        with config_server(ini) as server:
            process = self.wine.start(sandbox.exe, "setup_1001_77", timeout=90)
            self.addCleanup(process.kill)
            driver.wait(title=TITLE, exe=EXE, timeout=WINDOW_WAIT)
            requests = server.requests()
        self.assertTrue(any(r.startswith("GET /oemini/info.ini?id=") for r in requests), requests)
        self.assertFalse([r for r in requests if ".sig" in r], requests)


class LicenceLinkTest(WineTestCase):
    """A "DocUrl" that is no web address is not handed to the shell: clicking the licence
    link starts nothing. The program named is the demo Main.exe, which records every start
    in "started.log" beside itself."""

    def click_link_with(self, doc_url_for):
        sandbox = Sandbox()
        self.addCleanup(sandbox.cleanup)
        program = sandbox.path("evil.exe")
        shutil.copy2(win64_exe(os.path.join("tests", "programs", "demo_package", "payload", "Main.exe")), program)
        doc_url = doc_url_for("Z:" + program.replace("/", "\\"))
        with tempfile.TemporaryDirectory(prefix="licence-") as tmp:
            ini = write_description(tmp, bytes(3000), ["http://127.0.0.1:9/none.exe"])
        ini = edit_text(ini, lambda t: t.replace("DocUrl=http://127.0.0.1/licence.html", f"DocUrl={doc_url}"))
        self.assertIn(doc_url.encode("utf-16-le"), ini)
        driver = Driver(self.wine)
        with config_server(ini):
            process = self.wine.start(sandbox.exe, "setup_1001_77", timeout=90, env={"DEMO_MAIN_NO_WINDOW": "1"})
            self.addCleanup(process.kill)
            hwnd = driver.wait(title=TITLE, exe=EXE, timeout=WINDOW_WAIT)["hwnd"]
            driver.mouse_click(hwnd, LICENCE_LINK, x=10, y=6)
            time.sleep(5)  # Main.exe writes its log line at once when it starts
            self.assertTrue(process.running(), "the installer goes on")
            driver.press(hwnd, CLOSE, wait_ms=200)
            process.wait(30)
        self.assertFalse(os.path.exists(sandbox.path("started.log")), f"{doc_url} was started")

    def test_program_path_is_not_started(self):
        self.click_link_with(lambda path: path)

    def test_file_address_is_not_started(self):
        self.click_link_with(lambda path: "file:///" + path.replace("\\", "/"))


if __name__ == "__main__":
    unittest.main()
