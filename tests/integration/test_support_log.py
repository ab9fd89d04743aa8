"""The support log and the failure report of the real installer under Wine, against nginx
on loopback: a download that every mirror refuses is reported with its reason, written in
the log a support person reads and counted by stats_report; a finished installation
reports its download's figures; a read-only temporary folder costs the log, not the
installation."""
import csv
import glob
import io
import os
import subprocess

from harness.builds import host_tool, server_address
from harness.installer import InstallerTestCase, block_table, config_server, simple_description, stats_requests

TITLE = "演示软件"


def temp_folders(prefix):
    """The user temporary folders of the Wine prefix (Wine versions put it in
    AppData\\Local\\Temp or Temp)."""
    users = os.path.join(prefix, "drive_c", "users")
    found = []
    for pattern in ("*/AppData/Local/Temp", "*/Temp"):
        found += [p for p in glob.glob(os.path.join(users, pattern)) if os.path.isdir(p) and not os.path.islink(p)]
    return found


def support_logs(prefix, sub_dir="DemoSoft"):
    logs = []
    for folder in temp_folders(prefix):
        logs += glob.glob(os.path.join(folder, f"installer-{sub_dir}-*.log"))
    return sorted(logs)


def read_log(path):
    with open(path, encoding="utf-8") as f:
        return f.read().splitlines()


class SupportLogTest(InstallerTestCase):

    def setUp(self):
        super().setUp()
        for path in support_logs(self.wine.prefix):
            os.remove(path)

    def start(self, *args):
        from harness.installer import Sandbox
        sandbox = Sandbox()
        self.addCleanup(sandbox.cleanup)
        process = self.wine.start(sandbox.exe, *args, timeout=300)
        self.addCleanup(process.kill)
        return process

    def log_with(self, text, timeout=60):
        """The lines of the run's log once it holds `text`."""
        def found():
            for path in support_logs(self.wine.prefix):
                lines = read_log(path)
                if any(text in line for line in lines):
                    return lines
            return None
        return self.wait_until(found, timeout=timeout, message=f"a support log with {text!r}")

    def test_refused_download_is_reported_logged_and_counted_under_its_reason(self):
        host, port = server_address()
        urls = [f"http://{host}:{port}/gone/a.exe", f"http://{host}:{port}/gone/b.exe"]
        description = simple_description(title=TITLE, blocks=block_table(self.setup), urls=urls)
        with config_server(description, combined_log=True) as server:
            self.start("setup_1001_77")
            self.driver.wait(title=TITLE, exe="online_installer.exe", timeout=60)
            failures = self.wait_until(lambda: [r for r in stats_requests(server) if r["type"] == "3"], timeout=240,
                                       message="a failure report")
            self.assertEqual(len(failures), 1, failures)
            report = failures[0]
            # The usual values first, as a server that ignores the rest has always seen them.
            self.assertEqual((report["partnerid"], report["partnersubid"], report["phs"]), ("1001", "77", "WINEHDISK"))
            self.assertEqual(report["reason"], "server-refused")
            self.assertEqual((report["bytes"], report["kept"], report["mirrors"]), ("0", "0", "2"))
            self.assertGreaterEqual(int(report["secs"]), 1)
            self.assertNotIn("0", [r["type"] for r in stats_requests(server)])
            logged = [e["request"] for e in server.entries() if "type=3" in e["request"]]
            self.assertRegex(logged[0], r"&mac=[^&]*&phs=WINEHDISK&type=3&reason=server-refused&secs=\d+&bytes=0"
                                        r"&kept=0&mirrors=2 ")

            lines = self.log_with("outcome: download failed: server-refused")
            text = "\n".join(lines)
            for expected in ("installer 1.0.0, unsigned", "Windows ", "screen scale: ", "proxy: ",
                             'argument "setup_1001_77": partner 1001/77',
                             f"package description http://{host}:{port}/oemini/info.ini?id=",
                             "package description signature: not checked", "package chosen: ",
                             f"mirror 1 {urls[0]}: ", f"mirror 2 {urls[1]}: ", "download started",
                             "statistics report type 1, adapter ", "statistics report type 3 (server-refused)"):
                self.assertIn(expected, text)
            mirror_line = next(line for line in lines if f"mirror 1 {urls[0]}" in line)
            self.assertRegex(mirror_line, r"failures: network 0, http [1-9]\d*, check 0, certificate 0")
            self.assertRegex(lines[0], r"^\[ +\d+\.\d{3}\] installer ")
            # The identity only as digests.
            self.assertNotIn("WINEHDISK", text)

            # The publisher's report counts it under its reason.
            result = subprocess.run([host_tool("tools/stats_report/stats_report"), "--csv", server.combined_log_path],
                                    capture_output=True, text=True, timeout=60)
            self.assertEqual(result.returncode, 0, result.stderr)
            rows = {(r["partner"], r["sub"]): r for r in csv.DictReader(io.StringIO(result.stdout))}
            self.assertEqual(rows[("1001", "77")]["failed"], "1")
            self.assertEqual(rows[("1001", "77")]["server-refused"], "1")
            self.assertEqual(rows[("1001", "77")]["started"], "1")
            self.assertEqual(rows[("total", "")]["network"], "0")

    def test_finished_install_reports_its_download_and_logs_the_setup(self):
        host, port = server_address()
        description = simple_description(title=TITLE, blocks=block_table(self.setup),
                                         urls=[f"http://{host}:{port}/pkg/demo_setup.exe"])
        with config_server(description, extra_files={"pkg/demo_setup.exe": self.setup}) as server:
            self.start("setup_1001_77")
            window = self.driver.wait(title=TITLE, exe="online_installer.exe", timeout=60)
            self.driver.press(window["hwnd"], 1011)
            done = self.wait_until(lambda: [r for r in stats_requests(server) if r["type"] == "0"], timeout=180,
                                   message="the finished report")
            self.assertEqual(done[0]["bytes"], str(len(self.setup)))
            self.assertEqual((done[0]["kept"], done[0]["mirrors"]), ("0", "1"))
            self.assertNotIn("reason", done[0])
            self.assertNotIn("3", [r["type"] for r in stats_requests(server)])
            lines = self.log_with("outcome: installed", timeout=120)
            text = "\n".join(lines)
            self.assertIn("setup command line: ", text)
            self.assertIn("setup exited with code 0", text)
            self.assertIn(f"{len(self.setup)} bytes received", text)

    def test_read_only_temporary_folder_costs_the_log_not_the_installation(self):
        folders = temp_folders(self.wine.prefix)
        self.assertTrue(folders, "the prefix has a temporary folder")
        # Read-only for everyone, root included: a read-only tmpfs over the folder.
        for folder in folders:
            mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", folder],
                                     capture_output=True, text=True)
            if mounted.returncode != 0:
                self.skipTest(f"cannot mount a read-only folder here: {mounted.stderr.strip()}")
            self.addCleanup(subprocess.run, ["umount", "-l", folder])
        host, port = server_address()
        description = simple_description(title=TITLE, blocks=block_table(self.setup),
                                         urls=[f"http://{host}:{port}/pkg/demo_setup.exe"])
        with config_server(description, extra_files={"pkg/demo_setup.exe": self.setup}) as server:
            self.start("setup_1001_77")
            window = self.driver.wait(title=TITLE, exe="online_installer.exe", timeout=60)
            self.driver.press(window["hwnd"], 1011)
            self.wait_until(lambda: "0" in [r["type"] for r in stats_requests(server)], timeout=180,
                            message="the finished report")
            self.wait_until(self.installed, timeout=60, message="the demo setup's install log")
            self.assertEqual(support_logs(self.wine.prefix), [])


if __name__ == "__main__":
    import unittest
    unittest.main()
