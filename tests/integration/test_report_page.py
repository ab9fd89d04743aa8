"""The publisher's report page in a real headless browser (Debian's chromium): the page
stats_report --html writes from an access log is drawn without a network, its funnel bars
are there, and the partner numbers are in its text. The screenshot is kept under
artifacts/ (or $INSTALLER_ARTIFACTS) for a person to look at."""
import os
import shutil
import signal
import subprocess
import tempfile
import unittest

from PIL import Image

from harness.builds import host_tool

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHROMIUM = shutil.which("chromium")

# Colours of the page's bars (report_page.cc): started, asked, done, failed: server-refused.
STARTED = (0x9E, 0xCA, 0xE1)
ASKED = (0x42, 0x92, 0xC6)
DONE = (0x08, 0x51, 0x9C)
SERVER_REFUSED = (0xE6, 0xAB, 0x02)


def log_line(day, query):
    return (f'10.0.0.1 - - [{day}/Dec/2026:10:00:00 +0800] "GET /api/InstallData.ashx?{query} HTTP/1.1" 200 2 '
            f'"-" "online_installer"\n')


def sample_log():
    """Two partners over three days: a clear funnel, failures of two kinds, timed downloads."""
    lines = []
    for day, (started, asked, done, refused, network) in {"06": (30, 20, 15, 2, 1), "07": (40, 30, 22, 3, 0),
                                                          "08": (25, 18, 12, 1, 2)}.items():
        for i in range(started):
            lines.append(log_line(day, f"partnerid=1001&partnersubid=77&mac=00aa{i:08x}&phs=S{i}&type=1"))
        for i in range(asked):
            lines.append(log_line(day, f"partnerid=1001&partnersubid=77&mac=00aa{i:08x}&phs=S{i}&type=2"))
        for i in range(done):
            secs = 20 + 7 * i
            lines.append(log_line(day, f"partnerid=1001&partnersubid=77&mac=00aa{i:08x}&phs=S{i}&type=0"
                                       f"&secs={secs}&bytes={secs * 1500000}&kept=0&mirrors=3"))
        for i in range(refused):
            lines.append(log_line(day, "partnerid=1001&partnersubid=77&mac=&phs=&type=3&reason=server-refused"
                                       "&secs=30&bytes=0&kept=0&mirrors=3"))
        for i in range(network):
            lines.append(log_line(day, "partnerid=2002&partnersubid=5&mac=&phs=&type=3&reason=network"
                                       "&secs=120&bytes=1000&kept=0&mirrors=3"))
        lines.append(log_line(day, "partnerid=2002&partnersubid=5&mac=00bb00000001&phs=&type=1"))
    return "".join(lines)


def artifacts_dir():
    root = os.environ.get("INSTALLER_ARTIFACTS") or os.path.join(REPO, "artifacts")
    path = os.path.join(root, "report_page")
    os.makedirs(path, exist_ok=True)
    return path


@unittest.skipUnless(CHROMIUM, "chromium is not installed (scripts/setup-deps installs it)")
class ReportPageInBrowserTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="report-page-")
        cls.addClassCleanup(shutil.rmtree, cls.tmp, True)
        log = os.path.join(cls.tmp, "stats.log")
        with open(log, "w", encoding="utf-8") as f:
            f.write(sample_log())
        cls.page = os.path.join(cls.tmp, "report.html")
        result = subprocess.run([host_tool("tools/stats_report/stats_report"), "--html", cls.page, log],
                                capture_output=True, text=True, timeout=60)
        if result.returncode != 0:
            raise AssertionError(f"stats_report failed: {result.stderr}")
        cls.table = result.stdout

    def chromium(self, *args):
        """Runs headless chromium on the page with a fresh profile, ended by its process id
        (and its own process group, which holds its helper processes)."""
        profile = tempfile.mkdtemp(prefix="chromium-profile-", dir=self.tmp)
        command = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                   "--disable-background-networking", "--disable-component-update", "--disable-sync",
                   "--disable-extensions", f"--user-data-dir={profile}", *args, "file://" + self.page]
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                   start_new_session=True)
        try:
            out, err = process.communicate(timeout=180)
        finally:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
                process.communicate()
            else:
                try:
                    os.killpg(process.pid, signal.SIGKILL)  # helpers left in its group
                except ProcessLookupError:
                    pass
        self.assertEqual(process.returncode, 0, err[-2000:])
        return out

    def test_page_text_names_every_partner_and_its_counts(self):
        dom = self.chromium("--dump-dom")
        self.assertIn("Partner 1001, sub 77", dom)
        self.assertIn("Partner 2002, sub 5", dom)
        self.assertIn('data-partner="1001" data-sub="77"', dom)
        self.assertIn("Started 98, asked 68, done 49, failed 9", dom)
        self.assertIn("<title>1001/77 failed, server-refused: 6</title>", dom)
        self.assertIn("<title>2002/5 failed, network: 3</title>", dom)
        self.assertNotIn("<script", dom)
        # The same numbers the table prints.
        self.assertRegex(self.table, r"1001\s+77\s+95\s+68\s+49")

    def test_screenshot_shows_the_funnel_bars(self):
        shot = os.path.join(artifacts_dir(), "report_page.png")
        if os.path.exists(shot):
            os.remove(shot)
        self.chromium(f"--screenshot={shot}", "--window-size=1100,1600", "--hide-scrollbars")
        self.assertTrue(os.path.isfile(shot), "chromium wrote no screenshot")
        image = Image.open(shot).convert("RGB")
        self.assertEqual(image.size, (1100, 1600))
        colours = image.getcolors(maxcolors=1 << 20)
        counts = {rgb: n for n, rgb in colours}
        # Not blank: many colours, and the page's white is not all there is.
        self.assertGreater(len(counts), 20)
        self.assertLess(counts.get((255, 255, 255), 0), 0.97 * image.size[0] * image.size[1])
        # Each kind of bar covers a real area (a bar is 18 px high at the least).
        for name, rgb in (("started", STARTED), ("asked", ASKED), ("done", DONE), ("server-refused", SERVER_REFUSED)):
            self.assertGreater(counts.get(rgb, 0), 18 * 20, f"{name} bars in {shot}")
        # The longest bar (partner 1001's 95 started) is wider than the one of 2002 (3).
        row_widths = []
        for y in range(image.size[1]):
            run = sum(1 for x in range(image.size[0]) if image.getpixel((x, y)) == STARTED)
            if run:
                row_widths.append(run)
        self.assertGreater(max(row_widths), 10 * min(row_widths))


if __name__ == "__main__":
    unittest.main()
