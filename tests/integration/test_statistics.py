"""The install statistics report under Wine, with nginx as the statistics server (its
access log is the record) and the fault server's silent mode for a server that never answers.

report_probe.exe runs the installer's own report code; the installer tests at the end
run the real installer and are skipped until its window exists.
"""
import os
import re
import time
import unittest
import urllib.parse

from harness.driver import WINDOW_WAIT
from harness.nginx import Nginx, free_port
from harness.fault_server import FaultServer
from harness.builds import win64_build_dir, win64_exe
from harness.wine_test_case import WineTestCase

PROBE = os.path.join("tests", "programs", "report_probe", "report_probe.exe")
STATS_PATH = "/api/InstallData.ashx"
# The caller's bound on one report (kReportWaitMs) and the slack allowed for Wine.
REPORT_WAIT_S = 5.0
SLACK_S = 1.5
# The proxy login prompt: its title, the user and password boxes, OK.
PROXY_PROMPT_TITLE = "代理服务器登录"
PROXY_USER_EDIT, PROXY_PASSWORD_EDIT, PROMPT_OK = 101, 102, 1

def parse_probe(text):
    """The probe's "key=value" lines as a list of pairs, in order."""
    pairs = []
    for line in text.splitlines():
        key, sep, value = line.partition("=")
        if sep:
            pairs.append((key, value))
    return pairs


def values(pairs, key):
    return [v for k, v in pairs if k == key]


def report_queries(server):
    """(raw query, parsed values) of each statistics request nginx saw, oldest first."""
    found = []
    for entry in server.entries():
        target = entry["request"].split(" ")[1]
        path, _, query = target.partition("?")
        if path == STATS_PATH:
            parsed = {k: v[0] for k, v in urllib.parse.parse_qs(query, keep_blank_values=True).items()}
            found.append((query, parsed))
    return found


class ReportProbeTest(WineTestCase):
    """The report code itself, driven by report_probe.exe."""

    with_display = False

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.probe = win64_exe(PROBE)
        serial = cls.run_probe("serial")
        cls.wine_serial = values(serial, "serial")[0]
        adapters = cls.run_probe("adapters")
        cls.adapters = values(adapters, "adapter")
        cls.wine_mac = values(adapters, "mac")[0]

    @classmethod
    def run_probe(cls, *args, timeout=60):
        result = cls.wine.run(cls.probe, *args, timeout=timeout)
        if result.timed_out or result.returncode != 0:
            raise AssertionError(f"report_probe {args} failed: {result!r}\n{result.stdout}\n{result.stderr}")
        return parse_probe(result.stdout)

    def server(self):
        server = Nginx(locations=f'location = {STATS_PATH} {{ return 200 "ok"; }}')
        server.start()
        self.addCleanup(server.cleanup)
        return server

    def test_machine_identity_under_wine(self):
        # Wine lists its adapters, but none has a bound address entry (context 0), so
        # no adapter qualifies; its WMI gives one medium with a serial.
        self.assertTrue(self.adapters, "Wine listed no adapters at all")
        self.assertTrue(all(" context=0 " in a for a in self.adapters), self.adapters)
        self.assertEqual(self.wine_mac, "")
        self.assertEqual(self.wine_serial, "WINEHDISK")
        # The device attempts fail under Wine; WMI answers again for a second report
        # in the same process (the process-wide COM security is already set then).
        pairs = self.run_probe("serial")
        self.assertEqual(values(pairs, "physical_drive") + values(pairs, "scsi_drive"), ["0", "0"])
        self.assertEqual(values(pairs, "wmi_field"), ["WINEHDISK"])
        self.assertEqual(values(pairs, "wmi_field_again"), ["WINEHDISK"])

    def test_com_pointer_gives_each_reference_back_once(self):
        counts = dict(self.run_probe("com-ptr"))
        self.assertEqual(counts, {
            "held": "0",                     # nothing given back while held
            "moved_from_empty": "1",         # a moved-from owner holds nothing
            "first_after_move_assign": "1",  # assigning over an owner gives its reference back
            "second_after_put": "1",         # refilling an owner gives the old one back first
            "first_at_end": "2",             # and the end of scope gives back what is held, once
            "second_at_end": "1",
        })

    def test_reports_carry_partner_numbers_and_machine_identity(self):
        server = self.server()
        pairs = self.run_probe("send", "--type", "1,2,0", "--arg", "setup_1001_9876543210", "--base", server.url(""))
        self.assertEqual(values(pairs, "outcome"), ["answered"] * 3)
        self.assertEqual(values(pairs, "status"), ["200"] * 3)
        queries = report_queries(server)
        self.assertEqual([q for q, _ in queries], [
            f"partnerid=1001&partnersubid=9876543210&mac={self.wine_mac}&phs={self.wine_serial}&type={t}"
            for t in (1, 2, 0)])
        # The agent is the program's name, as with every report.
        self.assertEqual({e["agent"] for e in server.entries()}, {"report_probe"})

    def test_identical_reports_each_reach_the_server(self):
        # Two presses' worth of the same report: neither may be answered from a cache.
        server = self.server()
        pairs = self.run_probe("send", "--type", "2,2", "--arg", "x_1_2", "--base", server.url(""))
        self.assertEqual(values(pairs, "outcome"), ["answered", "answered"])
        self.assertEqual(len(report_queries(server)), 2)

    def test_negative_partner_and_sub_number_beyond_32_bits(self):
        server = self.server()
        self.run_probe("send", "--type", "1", "--partner", "-5", "--sub", "4294967296", "--base", server.url(""))
        (_, parsed), = report_queries(server)
        self.assertEqual((parsed["partnerid"], parsed["partnersubid"], parsed["type"]), ("-5", "4294967296", "1"))

    def test_argument_without_numbers_sends_zeros(self):
        server = self.server()
        self.run_probe("send", "--type", "1", "--arg", "a_b_c", "--base", server.url(""))
        (_, parsed), = report_queries(server)
        self.assertEqual((parsed["partnerid"], parsed["partnersubid"]), ("0", "0"))

    def test_home_mode_sends_nothing(self):
        server = self.server()
        pairs = self.run_probe("send", "--type", "1,2,0", "--arg", "x_5_7_homepg", "--base", server.url(""))
        self.assertEqual(values(pairs, "outcome"), ["home"] * 3)
        time.sleep(1.0)
        self.assertEqual(server.requests(), [])

    def test_server_error_status_still_ends_the_report(self):
        server = Nginx(locations=f'location = {STATS_PATH} {{ return 503; }}')
        server.start()
        self.addCleanup(server.cleanup)
        pairs = self.run_probe("send", "--type", "0", "--base", server.url(""))
        self.assertEqual(values(pairs, "outcome"), ["answered"])
        self.assertEqual(values(pairs, "status"), ["503"])
        self.assertEqual(len(report_queries(server)), 1)

    def test_refused_connection_fails_within_the_bound(self):
        port = free_port()
        pairs = self.run_probe("send", "--type", "1", "--base", f"http://127.0.0.1:{port}")
        self.assertEqual(values(pairs, "outcome"), ["failed"])
        self.assertEqual(values(pairs, "error"), ["12029"])  # ERROR_INTERNET_CANNOT_CONNECT
        self.assertLess(int(values(pairs, "elapsed_ms")[0]), REPORT_WAIT_S * 1000)

    def test_server_that_never_answers_delays_by_at_most_the_bound(self):
        with FaultServer(None, "silent") as silent:
            start = time.monotonic()
            pairs = self.run_probe("send", "--type", "1,0", "--arg", "x_3_4", "--base", silent.url(""))
            wall = time.monotonic() - start
            self.assertEqual(values(pairs, "outcome"), ["abandoned", "abandoned"])
            for elapsed in values(pairs, "elapsed_ms"):
                self.assertGreaterEqual(int(elapsed), REPORT_WAIT_S * 1000 - 50)
                self.assertLess(int(elapsed), (REPORT_WAIT_S + SLACK_S) * 1000)
            # The probe itself ends although both requests are still waiting.
            self.assertLess(wall, 2 * REPORT_WAIT_S + 10)
            # Both requests did reach the server in full.
            deadline = time.monotonic() + 5
            while len(silent.request_lines()) < 2 and time.monotonic() < deadline:
                time.sleep(0.1)
            lines = silent.request_lines()
            self.assertEqual(len(lines), 2, lines)
            for line, report_type in zip(lines, ("1", "0")):
                self.assertRegex(line, rf"^GET {re.escape(STATS_PATH)}\?partnerid=3&partnersubid=4&mac=&phs="
                                       rf"{self.wine_serial}&type={report_type} HTTP/1\.1$")

    def test_built_in_server_address(self):
        """SendInstallReport with the address compiled into the build: the returns, the
        type-2 thread, and home mode, against nginx at that address."""
        address = values(self.run_probe("address", "--arg", "setup_9_10", "--type", "2"), "address")[0]
        url = urllib.parse.urlsplit(address)
        self.assertEqual(url.path, STATS_PATH)
        self.assertEqual(url.query, f"partnerid=9&partnersubid=10&mac={self.wine_mac}&phs={self.wine_serial}&type=2")
        host, port = url.hostname, url.port or 80
        try:
            server = Nginx(address=host, port=port,
                           locations=f'location = {STATS_PATH} {{ return 200 "ok"; }}').start()
        except Exception as e:  # another test run holds the build's address
            self.skipTest(f"the build's statistics address {host}:{port} is in use: {e}")
        self.addCleanup(server.cleanup)

        home = self.run_probe("send", "--type", "1,2,0", "--arg", "x_5_7_homepg")
        self.assertEqual(values(home, "return"), ["0", "0", "0"])
        self.run_probe("send", "--type", "2", "--arg", "x_5_7_homepg", "--thread", "--linger-ms", "1500")
        self.assertEqual(server.requests(), [])

        sent = self.run_probe("send", "--type", "1,0", "--arg", "setup_1001_9876543210")
        self.assertEqual(values(sent, "return"), ["4294967295", "4294967295"])
        threaded = self.run_probe("send", "--type", "2", "--arg", "setup_1001_9876543210", "--thread",
                                  "--linger-ms", "4000")
        self.assertEqual(values(threaded, "thread_started"), ["1"])
        # Starting the thread does not wait for the request; the request still arrives.
        self.assertLess(int(values(threaded, "elapsed_ms")[0]), 1000)
        queries = report_queries(server)
        self.assertEqual([p["type"] for _, p in queries], ["1", "0", "2"])
        for _, parsed in queries:
            self.assertEqual((parsed["partnerid"], parsed["partnersubid"], parsed["mac"], parsed["phs"]),
                             ("1001", "9876543210", self.wine_mac, self.wine_serial))


def installer_ready():
    """The installer's window is built: its executable carries the install button's text."""
    path = os.path.join(win64_build_dir(), "src", "app", "online_installer.exe")
    if not os.path.isfile(path):
        return False
    with open(path, "rb") as f:
        return "立即安装".encode("utf-16-le") in f.read()


@unittest.skipUnless(installer_ready(), "the installer's window is not built yet")
class InstallerReportTest(WineTestCase):
    """The reports the real installer sends at start-up, on "立即安装" and after the setup."""

    def setUp(self):
        from harness.driver import Driver
        from harness.installer import Sandbox
        self.sandbox = Sandbox()
        self.addCleanup(self.sandbox.cleanup)
        self.driver = Driver(self.wine)

    def start(self, *args):
        process = self.wine.start(self.sandbox.exe, *args, timeout=120)
        self.addCleanup(process.kill)
        return process

    def test_start_up_sends_one_type1_report_with_the_partner_numbers(self):
        from harness.installer import config_server, simple_description, stats_requests
        with config_server(simple_description(title="演示软件")) as server:
            self.start("setup_1001_9876543210")
            self.driver.wait(title="演示软件", exe="online_installer.exe", timeout=WINDOW_WAIT)
            reports = stats_requests(server)
            self.assertEqual([(r["type"], r["partnerid"], r["partnersubid"], r["mac"]) for r in reports],
                             [("1", "1001", "9876543210", "")])
            self.assertEqual(reports[0]["phs"], "WINEHDISK")

    def test_home_mode_sends_no_report(self):
        from harness.installer import config_server, simple_description, stats_requests
        with config_server(home_description=simple_description(title="演示软件")) as server:
            self.start("x_5_7_homepg")
            self.driver.wait(title="演示软件", exe="online_installer.exe", timeout=WINDOW_WAIT)
            time.sleep(2.0)
            self.assertTrue(any(r.startswith("GET /oemini/home.ini") for r in server.requests()), server.requests())
            self.assertEqual(stats_requests(server), [])

    def test_install_press_and_setup_run_send_type2_then_type0(self):
        from harness.builds import server_address
        from harness.installer import block_table, config_server, demo_setup, simple_description, stats_requests
        setup = demo_setup()
        host, port = server_address()
        description = simple_description(title="演示软件", blocks=block_table(setup),
                                         urls=[f"http://{host}:{port}/pkg/demo_setup.exe"])
        with config_server(description, extra_files={"pkg/demo_setup.exe": setup}) as server:
            self.start("setup_1001_9876543210")
            window = self.driver.wait(title="演示软件", exe="online_installer.exe", timeout=WINDOW_WAIT)
            self.driver.press(window["hwnd"], 1011)
            self.wait_until(lambda: [r["type"] for r in stats_requests(server)] == ["1", "2", "0"], timeout=90,
                            message="reports 1, 2 and 0")
            for report in stats_requests(server):
                self.assertEqual((report["partnerid"], report["partnersubid"], report["phs"]),
                                 ("1001", "9876543210", "WINEHDISK"))

    def test_behind_a_proxy_with_a_login_the_start_report_goes_once_the_login_is_given(self):
        # The start report goes before the description, whose download asks for the login:
        # the proxy refuses it first, and it must go again with the login, once.
        from harness.installer import config_server, simple_description, stats_requests
        from harness.tinyproxy import Tinyproxy, system_proxy
        proxy = Tinyproxy(login=("user", "pass")).start()
        self.addCleanup(proxy.cleanup)
        with system_proxy(self.wine, proxy), config_server(simple_description(title="演示软件")) as server:
            self.start("setup_1001_9876543210")
            prompt = self.driver.wait(title=PROXY_PROMPT_TITLE, exe="online_installer.exe", timeout=WINDOW_WAIT)
            self.driver.set_text(prompt["hwnd"], PROXY_USER_EDIT, "user")
            self.driver.set_text(prompt["hwnd"], PROXY_PASSWORD_EDIT, "pass")
            self.driver.press(prompt["hwnd"], PROMPT_OK, wait_ms=200)
            self.driver.wait(title="演示软件", exe="online_installer.exe", timeout=WINDOW_WAIT)
            self.wait_until(lambda: stats_requests(server), timeout=20, message="the start report")
            time.sleep(1.0)  # a second copy would follow at once
            self.assertEqual([(r["type"], r["partnerid"]) for r in stats_requests(server)], [("1", "1001")])
            # It was asked of the proxy first, and reached the server after the description.
            self.assertIn(STATS_PATH, proxy.requests()[0])
            paths = [e["request"].split(" ")[1].partition("?")[0] for e in server.entries()]
            self.assertEqual(paths[-1], STATS_PATH)
            self.assertIn("/oemini/info.ini", paths[:-1])

    def test_silent_statistics_server_delays_start_up_by_at_most_the_bound(self):
        from harness.builds import server_address
        from harness.installer import simple_description
        stats = server_address("INSTALLER_STATS_BASE_URL")
        config = server_address("INSTALLER_CONFIG_BASE_URL")
        if stats == config:
            self.skipTest("needs a build whose statistics server differs from its configuration server")
        server = Nginx(files={"oemini/info.ini": simple_description(title="演示软件")}, address=config[0],
                       port=config[1]).start()
        self.addCleanup(server.cleanup)
        with FaultServer(None, "silent", address=stats[0], port=stats[1]) as silent:
            start = time.monotonic()
            self.start("setup_1001_9876543210")
            self.driver.wait(title="演示软件", exe="online_installer.exe", timeout=60)
            # Wine's own start of the program takes a few seconds as well.
            self.assertLess(time.monotonic() - start, REPORT_WAIT_S + 15)
            self.assertTrue(any("type=1" in line for line in silent.request_lines()), silent.request_lines())


if __name__ == "__main__":
    unittest.main()
