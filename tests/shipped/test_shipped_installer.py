"""The shipped 32-bit installer (build/win32: the .exe and skin as they ship) through one
whole installation under Wine against nginx on loopback, and its start-up without a
configuration server.

The installation is one installer process that goes through all three stages; the test
driver, the demo setup and its Main.exe are the 64-bit programs of the win64 build.
Screenshots of each stage go to $INSTALLER_ARTIFACTS/shipped_win32 (default
artifacts/shipped_win32).
"""
import os
import time
import unittest

from PIL import Image

from harness.driver import DriverNotFound, child
from harness.installer import INSTALLER_EXE, InstallerTestCase, Sandbox, block_table, config_server, simple_description, stats_requests
from harness.nginx import Nginx
from harness.builds import win32_build_dir, win32_exe, win64_exe
from harness.wine import DLL_OVERRIDES, WINE_LOADER, WINE_LOADER_32, is_pe32, loader_for
from harness.stage_look import SHOWS, control_box, frame_mismatch, mean_difference, stage_mismatches

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ARTIFACTS = os.path.join(os.environ.get("INSTALLER_ARTIFACTS") or os.path.join(ROOT, "artifacts"), "shipped_win32")
EXE = "online_installer.exe"
TITLE = "演示软件"
SUB_DIR = "DemoSoft"
PARTNER = ("1001", "77")
# A 32-bit program on 64-bit Windows gets the 32-bit program-files folder.
PROGRAM_FILES = r"C:\Program Files (x86)"
INSTALL_NOW, INSTALL_DIR, ACCEPT, RUN_NOW, CLOSE, START_NOW, PROGRESS = 1011, 1014, 1013, 1017, 1021, 1024, 1000
STEP_WELCOME = 1008
# The first window or message box of the installer, on a busy machine.
START_TIMEOUT = 120
NETWORK_FAILURE = ("网络故障！程序将关闭，请稍候继续安装。", "网络连接超时，请检查网络连接！")
NO_FILES = "下载配置文件失败 ，请重试！！"


class LoaderChoiceTest(unittest.TestCase):
    """The harness starts the shipped .exe through the 32-bit loader and everything else as
    before: 64-bit programs and Wine's built-in programs through wine64."""

    def test_each_program_gets_its_loader(self):
        shipped = win32_exe(INSTALLER_EXE)
        driver = win64_exe(os.path.join("tests", "programs", "test_driver", "test_driver.exe"))
        self.assertEqual(loader_for(shipped), WINE_LOADER_32)
        self.assertEqual(loader_for(driver), WINE_LOADER)
        self.assertEqual(loader_for("regedit"), WINE_LOADER)
        self.assertFalse(is_pe32(os.path.join(win32_build_dir(), "CMakeCache.txt")))


class ShippedInstallerTest(InstallerTestCase):
    with_32bit = True
    program_files = "Program Files (x86)"  # a 32-bit setup installs there

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        os.makedirs(ARTIFACTS, exist_ok=True)

    with_skin = True  # the skin folder goes beside the .exe, as the build leaves it

    def setUp(self):
        shipped = win32_exe(INSTALLER_EXE)
        self.assertTrue(is_pe32(shipped), f"{shipped} is not a 32-bit program")
        self.assertTrue(os.path.isdir(os.path.join(os.path.dirname(shipped), "skin", "Default")),
                        "the shipped skin folder is missing")
        super().setUp()
        self.sandbox = Sandbox(with_skin=self.with_skin, build_dir=win32_build_dir())
        self.addCleanup(self.sandbox.cleanup)
        self.shot_prefix = "" if self.with_skin else "alone-"

    def start(self, *args, env=None):
        # A crash ends the installer at once instead of starting Wine's debugger; the
        # crash line stays in its output.
        environment = {"WINEDLLOVERRIDES": DLL_OVERRIDES + ";winedbg.exe=d"}
        environment.update(env or {})
        process = self.wine.start(self.sandbox.exe, *args, timeout=START_TIMEOUT + 300, env=environment)
        self.addCleanup(process.kill)
        return process

    def while_running(self, process, find, what):
        """Polls `find` (a driver look-up that raises DriverNotFound) for up to START_TIMEOUT
        seconds while `process` runs; an installer that ends first (a crash at start) fails
        at once with its output."""
        deadline = time.monotonic() + START_TIMEOUT
        while True:
            try:
                return find()
            except DriverNotFound:
                pass
            if not process.running():
                self.fail(f"the installer ended (exit {process.returncode}) before {what}:\n{process.stderr[-3000:]}")
            if time.monotonic() > deadline:
                self.fail(f"no {what} within {START_TIMEOUT} s:\n{process.stderr[-3000:]}")

    def shot(self, hwnd, name):
        path = os.path.join(ARTIFACTS, self.shot_prefix + name)
        answer = self.driver.screenshot(hwnd, path, settle=1.0)
        left, top, right, bottom = answer["rect"]
        self.assertGreater(right - left, 300, name)
        self.assertGreater(bottom - top, 200, name)
        return path

    def assert_skinned(self, path, hwnd, stage, pictures=None, buttons=()):
        """The stage as the default skin draws it, checked by measured regions: the step
        images, the picture and frame 0 of each visible image button (`buttons`: control id,
        image, frame count)."""
        window = self.driver.window(hwnd)
        self.assertEqual(stage_mismatches(path, window, stage, pictures), [], path)
        for control_id, image, frames in buttons:
            self.assertLess(frame_mismatch(path, window, control_id, image, frames), SHOWS,
                            f"{path}: control {control_id} does not show {image}")

    def park_mouse(self, hwnd):
        # A point of the window's body far from every control, so that no button hovers.
        self.driver.mouse_move(hwnd, x=480, y=320)

    def install_log(self):
        with open(os.path.join(self.install_root, "install.log"), encoding="utf-8") as f:
            return dict(line.split("=", 1) for line in f.read().splitlines() if "=" in line)

    def test_whole_installation_from_three_mirrors(self):
        # Rate-limited mirrors keep the download running while the Install stage shows.
        mirrors = []
        for _ in range(3):
            mirror = Nginx(files={"DemoSoft.exe": self.setup}, limit_rate="40k").start()
            self.addCleanup(mirror.cleanup)
            mirrors.append(mirror)
        description = simple_description(title=TITLE, file_dir=SUB_DIR, blocks=block_table(self.setup),
                                         urls=[m.url("/DemoSoft.exe") for m in mirrors])
        server = config_server(description, build_dir=win32_build_dir()).start()
        self.addCleanup(server.cleanup)
        process = self.start("setup_%s_%s" % PARTNER, env={"DEMO_SETUP_SECONDS": "1", "DEMO_MAIN_NO_WINDOW": "1"})

        # Welcome: the skinned window with the licence box checked and the default folder.
        window = self.while_running(process, lambda: self.driver.wait(title=TITLE, exe=EXE, timeout=15), "its window")
        hwnd = window["hwnd"]
        self.assertTrue(window["visible"])
        self.assertEqual(child(window, INSTALL_DIR)["text"], PROGRAM_FILES + "\\" + SUB_DIR)
        self.assertEqual(child(window, ACCEPT)["check"], 1)
        self.assertEqual(child(window, RUN_NOW)["check"], 1)
        self.park_mouse(hwnd)
        self.assert_skinned(self.shot(hwnd, "welcome.png"), hwnd, "welcome",
                            buttons=[(INSTALL_NOW, "btn_install.png", 5), (CLOSE, "dlg_close.png", 5)])

        # Install: the download's progress on the bar, no way out meanwhile.
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        self.wait_control(hwnd, PROGRESS, visible=True, timeout=60, interval=0.5)
        self.wait_until(lambda: 0 < (self.control(hwnd, PROGRESS)["pos"] or 0), timeout=120, interval=0.5,
                        message="progress on the bar")
        self.assertFalse(self.control(hwnd, CLOSE)["enabled"], "no exit during the Install stage")
        self.park_mouse(hwnd)
        self.assert_skinned(self.shot(hwnd, "install.png"), hwnd, "install", [f"Install{i}.jpg" for i in range(3)])

        # Finish: the setup ran silently into the chosen folder.
        self.wait_control(hwnd, START_NOW, visible=True, timeout=300, interval=0.5)
        self.park_mouse(hwnd)
        self.assert_skinned(self.shot(hwnd, "finish.png"), hwnd, "finish", ["Install.jpg"],
                            buttons=[(START_NOW, "btn_run.png", 5)])
        self.assertTrue(self.control(hwnd, CLOSE)["enabled"])
        self.assertEqual(self.control(hwnd, PROGRESS)["pos"], 100)
        log = self.install_log()
        self.assertEqual((log["silent"], log["run"], log["exit_code"]), ("1", "1", "0"))
        self.assertTrue(log["command_line"].startswith('"'), "the package path is quoted")
        self.assertTrue(log["command_line"].endswith(r" /S /RUN /D=" + PROGRAM_FILES + "\\" + SUB_DIR),
                        log["command_line"])

        # Every block was fetched, spread over all three mirrors, each with the ranged
        # request the engine makes: a run of whole blocks from a block's offset to the run's
        # end offset (as 64-bit numbers); each mirror's first request is one block.
        blocks = len(block_table(self.setup))
        entries = [e for m in mirrors for e in m.entries()]
        self.assertEqual(sum(1 for m in mirrors if m.entries()), 3, "every mirror served blocks")
        fetched = set()
        for e in entries:
            if e["status"] != 206:
                continue
            start, end = map(int, e["range"][len("bytes="):].split("-"))
            self.assertEqual((start % 204800, (end - start) % 204800), (0, 0), e["range"])
            fetched.update(range(start // 204800, end // 204800))
        self.assertEqual(fetched, set(range(blocks)))
        for m in mirrors:
            first_two = sorted(m.entries(), key=lambda e: e["time"] - e["request_time"])[:2]
            self.assertIn(204800, [int(e["range"].split("-")[1]) - int(e["range"][len("bytes="):].split("-")[0])
                                   for e in first_two])

        # The statistics server heard start (1), download done (2) and installed (0), with
        # the partner, and the disk serial as this Wine reports it.
        reports = stats_requests(server)
        self.assertEqual([r["type"] for r in reports], ["1", "2", "0"])
        for r in reports:
            self.assertEqual((r["partnerid"], r["partnersubid"]), PARTNER)
            self.assertEqual((r["mac"], r["phs"]), ("", "WINEHDISK"))

        # 立即启动 starts the installed Main.exe and ends the installer.
        self.driver.press(hwnd, START_NOW, wait_ms=200)
        self.assertEqual(process.wait(60), 0, process.stderr[-3000:])
        started = os.path.join(self.install_root, "started.log")
        self.wait_until(lambda: os.path.exists(started), timeout=60, message="Main.exe started by 立即启动")

    def test_unreachable_configuration_server_shows_its_message_and_ends(self):
        # Nothing listens at the configuration address: the connection is refused.
        process = self.start()
        box = self.while_running(process, lambda: self.driver.msgbox(exe=EXE, timeout=15), "a message box")
        self.assertIn(box["text"], NETWORK_FAILURE)
        self.driver.msgbox_press("OK", exe=EXE)
        box = self.driver.msgbox(exe=EXE, timeout=60)
        self.assertEqual(box["text"], NO_FILES)
        self.driver.msgbox_press("OK", exe=EXE)
        self.assertEqual(process.wait(60), 0, process.stderr[-3000:])


class ShippedExeAloneTest(ShippedInstallerTest):
    """The shipped .exe copied alone into an empty folder, as a user who downloaded one file
    has it: the same installation, drawn from the skin built into it."""

    with_skin = False

    # Nothing of the skin shows there: once is enough, with the skin folder.
    test_unreachable_configuration_server_shows_its_message_and_ends = None

    def test_a_skin_folder_with_one_image_changes_that_image_only(self):
        # A publisher's folder holding one image of its own: a Welcome step in plain green.
        folder = os.path.join(self.sandbox.dir, "skin", "Default")
        os.makedirs(folder)
        with Image.open(os.path.join(win32_build_dir(), "src", "app", "skin", "Default", "step01.png")) as step:
            size = step.size
        Image.new("RGBA", size, (0, 160, 0, 255)).save(os.path.join(folder, "step01.png"))
        server = config_server(simple_description(title=TITLE), build_dir=win32_build_dir()).start()
        self.addCleanup(server.cleanup)
        process = self.start("setup_%s_%s" % PARTNER)
        window = self.while_running(process, lambda: self.driver.wait(title=TITLE, exe=EXE, timeout=15), "its window")
        hwnd = window["hwnd"]
        self.park_mouse(hwnd)
        path = self.shot(hwnd, "one-image.png")
        window = self.driver.window(hwnd)
        problems = stage_mismatches(path, window, "welcome")
        # Only the Welcome step differs from the built-in skin, and it shows the green.
        self.assertEqual(len(problems), 1, problems)
        self.assertIn(f"step {STEP_WELCOME} ", problems[0])
        green = Image.new("RGBA", size, (0, 160, 0, 255))
        shot = Image.open(path)
        self.assertLess(mean_difference(shot, control_box(window, STEP_WELCOME, size), green), SHOWS)
        self.assertLess(frame_mismatch(path, window, INSTALL_NOW, "btn_install.png", 5), SHOWS)
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(60), 0, process.stderr[-3000:])


if __name__ == "__main__":
    unittest.main()
