"""The Wine harness and the Windows test driver, checked on the driver's sample window."""
import os
import tempfile
import time
import unittest
from unittest import mock

from PIL import Image

from harness.driver import DRIVER_EXE, STARTED_MARK, Driver, DriverError, DriverNotFound, SAMPLE_EXE, child
from harness.builds import win64_exe
from harness import wine
from harness.wine import READY_MARK, WineError, WineFailure, WineResult, WineSession, processes_in_prefix
from harness.wine_test_case import WineTestCase
from harness.xvfb import Xvfb

SAMPLE = "driver_sample.exe"
BACKGROUND = (0x30, 0x90, 0xD0)
MARKER = (0xFF, 0x00, 0x00)


def process_exists(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    with open(f"/proc/{pid}/stat") as f:
        return f.read().split(")")[-1].split()[0] != "Z"


def ink_pixels(image, box):
    """(x, y) of the pixels inside `box` that text has clearly drawn over the background."""
    left, top, right, bottom = box
    found = []
    for y in range(top, bottom):
        for x in range(left, right):
            pixel = image.getpixel((x, y))[:3]
            if sum(abs(a - b) for a, b in zip(pixel, BACKGROUND)) > 90:
                found.append((x, y))
    return found


class XvfbTest(unittest.TestCase):
    def test_display_is_announced_and_server_ends_by_pid(self):
        with Xvfb() as first, Xvfb() as second:
            self.assertRegex(first.display, r"^:\d+$")
            self.assertNotEqual(first.display, second.display)
            number = first.display[1:]
            self.assertTrue(os.path.exists(f"/tmp/.X11-unix/X{number}"))
            pid = first.pid
            self.assertTrue(process_exists(pid))
        self.assertFalse(process_exists(pid))


class WineSessionLifeTest(unittest.TestCase):
    """A session of its own: what it starts must be gone when it closes."""

    def test_close_ends_programs_server_and_display(self):
        with WineSession() as session:
            self.assertTrue(os.path.isfile(os.path.join(session.prefix, READY_MARK)))
            process = session.start(win64_exe(SAMPLE_EXE), "--sleep", "60000", timeout=120)
            xvfb_pid = session.xvfb.pid
            time.sleep(1)
            self.assertTrue(process.running())
            pid = process.pid
        self.assertFalse(process_exists(pid))
        self.assertFalse(process_exists(xvfb_pid))
        self.assertEqual(session.processes, [])
        # Nothing of the prefix is left: no wineserver, no service, no program.
        self.assertEqual([p for p in processes_in_prefix(session.prefix) if process_exists(p)], [])

    def test_watchdog_kills_a_started_program_at_its_timeout(self):
        with WineSession(with_display=False) as session:
            started = time.monotonic()
            process = session.start(win64_exe(SAMPLE_EXE), "--sleep", "60000", timeout=3)
            self.assertIsNotNone(process.wait(30), "the watchdog did not end the program")
            self.assertTrue(process.timed_out)
            self.assertLess(time.monotonic() - started, 30)


class WineRerunTest(unittest.TestCase):
    """A test that Wine itself failed under runs once more in a fresh session, and only such a
    test; the re-run is written to the log the summary counts."""

    class FakeSession:
        def __init__(self):
            self.silent_ends = []

        def silent_ends_since(self, moment):
            return self.silent_ends

        def close(self):
            pass

    def run_case(self, outcomes, failed_openings=()):
        """Runs one test whose n-th attempt does `outcomes[n]`: "pass", "fail", "wine" (Wine
        fails under it) or "silent" (it fails because a program it started ended silently)."""
        attempts = []
        sessions = []
        openings = []  # `failed_openings` names which of them fail (0: the first)
        fake = self.FakeSession

        class Case(WineTestCase):
            @classmethod
            def open_session(cls):
                openings.append(len(openings))
                if openings[-1] in failed_openings:
                    raise WineError("wineserver -w took more than 60 s")
                sessions.append(fake())
                return sessions[-1]

            def test_it(self):
                attempts.append(self.wine)
                outcome = outcomes[len(attempts) - 1]
                if outcome == "wine":
                    raise WineFailure("wine client error: recvmsg: connection reset by peer")
                if outcome == "silent":
                    self.wine.silent_ends.append(WineResult(["online_installer.exe"], 1, "", "", False))
                    self.fail("timed out waiting for the installer's window")
                self.assertEqual(outcome, "pass")

        result = unittest.TestResult()
        with tempfile.NamedTemporaryFile("r", suffix=".txt") as log:
            saved = os.environ.get("INSTALLER_WINE_RERUN_LOG")
            os.environ["INSTALLER_WINE_RERUN_LOG"] = log.name
            try:
                unittest.TestSuite([Case("test_it")]).run(result)
            finally:
                if saved is None:
                    del os.environ["INSTALLER_WINE_RERUN_LOG"]
                else:
                    os.environ["INSTALLER_WINE_RERUN_LOG"] = saved
            logged = log.read().splitlines()
        return result, attempts, sessions, logged

    def test_a_wine_failure_is_run_once_more_in_a_fresh_session(self):
        result, attempts, sessions, logged = self.run_case(["wine", "pass"])
        self.assertTrue(result.wasSuccessful(), result.errors)
        self.assertEqual(result.testsRun, 1)
        self.assertEqual(len(attempts), 2)
        self.assertIsNot(attempts[0], attempts[1])  # the second attempt had a session of its own
        self.assertEqual(len(logged), 1)
        self.assertTrue(logged[0].endswith("test_it"))

    def test_a_failure_after_a_program_ended_silently_is_run_once_more(self):
        result, attempts, _, logged = self.run_case(["silent", "pass"])
        self.assertTrue(result.wasSuccessful(), result.failures)
        self.assertEqual((len(attempts), len(logged)), (2, 1))
        result, attempts, _, logged = self.run_case(["silent", "silent"])
        self.assertEqual((len(attempts), len(result.failures), len(logged)), (2, 1, 1))

    def test_a_session_that_does_not_open_for_the_rerun_is_that_tests_error(self):
        # The suite goes on: the error is the test's, not an exception out of the run.
        result, attempts, _, logged = self.run_case(["wine", "pass"], failed_openings=(1,))
        self.assertEqual((len(attempts), result.testsRun, len(result.errors), len(logged)), (1, 1, 1, 1))
        self.assertIn("took more than 60 s", result.errors[0][1])

    def test_at_most_once_and_then_it_counts(self):
        result, attempts, _, logged = self.run_case(["wine", "wine", "pass"])
        self.assertEqual(len(attempts), 2)
        self.assertEqual(len(result.errors), 1)
        self.assertIn("WineFailure", result.errors[0][1])
        self.assertEqual(len(logged), 1)

    def test_an_ordinary_failure_or_success_is_run_once(self):
        for outcome, failures in (("fail", 1), ("pass", 0)):
            result, attempts, sessions, logged = self.run_case([outcome, "pass"])
            self.assertEqual(len(attempts), 1, outcome)
            self.assertEqual(len(sessions), 1, outcome)
            self.assertEqual(len(result.failures), failures, outcome)
            self.assertEqual(result.testsRun, 1, outcome)
            self.assertEqual(logged, [], outcome)


class WineRunTest(WineTestCase):
    def test_exit_code_and_utf8_output_come_back(self):
        result = self.wine.run(win64_exe(SAMPLE_EXE), "--print", "安装完成 ok", "--exit-code", "7")
        self.assertEqual(result.returncode, 7)
        self.assertFalse(result.timed_out)
        self.assertEqual(result.stdout.replace("\r\n", "\n"), "安装完成 ok\n")

    def test_run_past_its_timeout_is_killed_and_marked(self):
        started = time.monotonic()
        result = self.wine.run(win64_exe(SAMPLE_EXE), "--sleep", "60000", timeout=3)
        self.assertTrue(result.timed_out)
        self.assertNotEqual(result.returncode, 0)
        self.assertLess(time.monotonic() - started, 30)
        self.assertEqual(self.wine.processes, [])

    def test_a_silent_end_is_told_from_one_that_says_why(self):
        began = time.monotonic()
        silent = self.wine.start("cmd", "/c", "exit 1")
        spoken = self.wine.start("cmd", "/c", "echo cannot read the file & exit 1")
        succeeded = self.wine.start("cmd", "/c", "exit 0")
        for process in (silent, spoken, succeeded):
            self.addCleanup(self.wine.processes.remove, process)
            self.addCleanup(process.close)
            self.assertIsNotNone(process.wait(60))
        self.assertEqual(self.wine.silent_ends_since(began), [silent])
        silent.close()  # as a test's clean-up does: its end is still told
        self.assertEqual(self.wine.silent_ends_since(began), [silent])
        self.assertEqual(self.wine.silent_ends_since(time.monotonic()), [])

    def test_programs_see_a_chinese_system(self):
        info = Driver(self.wine).info()
        self.assertEqual(info["acp"], 936)  # GBK: what a file without byte-order mark is read in
        self.assertEqual(info["locale"], "zh-CN")
        self.assertEqual(info["screen"], [1024, 768])


class DriverCloseTest(WineTestCase):
    def test_closed_window_goes_and_its_program_ends(self):
        process = self.wine.start(win64_exe(SAMPLE_EXE), timeout=120)
        driver = Driver(self.wine)
        window = driver.wait(exe=SAMPLE, timeout=30)
        self.assertTrue(driver.exists(window["hwnd"]))
        self.assertTrue(driver.close(window["hwnd"])["posted"])
        self.assertTrue(driver.wait_gone(window["hwnd"], timeout=10))
        self.assertEqual(process.wait(20), 0)
        self.assertFalse(driver.exists(window["hwnd"]))


class PrefixSetUpTest(unittest.TestCase):
    """Opening a session survives one failure of Wine while setting up its prefix (set up again
    from a clean folder) and says why when Wine fails twice; here with a loader that fails its
    first `failures` regedit runs."""

    FAKE_LOADER = """#!/bin/sh
printf '%s\\n' "$*" >> "$FAKE_WINE_LOG"
mkdir -p "$WINEPREFIX"
case "$1" in
  wineboot) touch "$WINEPREFIX/left-by-boot-$$" ;;
  regedit)
    left=$(cat "$FAKE_WINE_FAILURES")
    if [ "$left" -gt 0 ]; then
      echo $((left - 1)) > "$FAKE_WINE_FAILURES"
      echo "regedit: fake failure" >&2
      exit 1
    fi ;;
esac
"""

    def set_up(self, failures):
        root = tempfile.TemporaryDirectory(prefix="prefix-set-up-")
        self.addCleanup(root.cleanup)
        loader, server = os.path.join(root.name, "wine64"), os.path.join(root.name, "wineserver")
        for path, text in ((loader, self.FAKE_LOADER), (server, "#!/bin/sh\n")):
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, 0o755)
        with open(os.path.join(root.name, "failures"), "w") as f:
            f.write(f"{failures}\n")
        prefix = os.path.join(root.name, "prefix")
        calls, reruns = os.path.join(root.name, "calls.txt"), os.path.join(root.name, "reruns.txt")
        environment = {"FAKE_WINE_LOG": calls, "FAKE_WINE_FAILURES": os.path.join(root.name, "failures"),
                       "INSTALLER_WINE_RERUN_LOG": reruns}
        with mock.patch.multiple(wine, WINE_LOADER=loader, WINESERVER=server, WINE_LOADER_32="/nonexistent"), \
                mock.patch.dict(os.environ, environment):
            try:
                with WineSession(prefix, with_display=False) as session:
                    outcome = session.prefix
            except WineError as e:
                outcome = e

        def lines(path):
            if not os.path.exists(path):
                return []
            with open(path) as f:
                return f.read().splitlines()

        return outcome, prefix, lines(calls), lines(reruns)

    def test_a_failed_step_is_done_once_more_from_a_clean_folder(self):
        outcome, prefix, calls, reruns = self.set_up(failures=1)
        self.assertEqual(outcome, prefix)
        self.assertTrue(os.path.isfile(os.path.join(prefix, READY_MARK)))
        self.assertEqual([c.split()[0] for c in calls], ["wineboot", "regedit", "wineboot", "regedit"])
        # The half-made prefix went: only the second boot's traces are in it.
        self.assertEqual(len([n for n in os.listdir(prefix) if n.startswith("left-by-boot-")]), 1)
        self.assertEqual(reruns, [f"session {prefix}"])

    def test_two_failures_name_what_wine_said_and_leave_no_ready_mark(self):
        outcome, prefix, calls, reruns = self.set_up(failures=2)
        self.assertIsInstance(outcome, WineError)
        self.assertIn("regedit", str(outcome))
        self.assertIn("fake failure", str(outcome))
        self.assertFalse(os.path.exists(os.path.join(prefix, READY_MARK)))
        self.assertEqual((len(calls), len(reruns)), (4, 1))


class RunSettingTest(unittest.TestCase):
    """A setting that Wine ends with exit code 1 is made once more, and only once."""

    def run_setting(self, exit_codes):
        session = WineSession(with_display=False)
        runs = []

        def scripted_run(program, *args, timeout=60):
            runs.append(args)
            return WineResult((program, *args), exit_codes[len(runs) - 1], "", "", False)

        with tempfile.NamedTemporaryFile("r", suffix=".txt") as log, \
                mock.patch.object(session, "run", scripted_run), \
                mock.patch.dict(os.environ, {"INSTALLER_WINE_RERUN_LOG": log.name}):
            try:
                outcome = session.run_setting("reg", "add", "HKCU\\Software\\Test", "/f")
            except WineFailure as e:
                outcome = e
            return outcome, len(runs), log.read().splitlines()

    def test_one_failure_is_run_once_more_and_counted(self):
        outcome, runs, logged = self.run_setting([1, 0, 0])
        self.assertEqual(outcome.returncode, 0)
        self.assertEqual((runs, logged), (2, ["reg add HKCU\\Software\\Test /f"]))
        outcome, runs, logged = self.run_setting([0, 1])
        self.assertEqual((outcome.returncode, runs, logged), (0, 1, []))

    def test_two_failures_are_a_wine_failure(self):
        outcome, runs, _ = self.run_setting([1, 1, 0])
        self.assertIsInstance(outcome, WineFailure)
        self.assertEqual(runs, 2)


class DriverRelaunchTest(unittest.TestCase):
    """A driver command that Wine ends without a word runs once more only when that cannot act
    twice: it never reached its start line, or it changes nothing."""

    SILENT_BEFORE_START = (1, "", "")
    SILENT_AFTER_START = (1, "", STARTED_MARK + "\n")
    ANSWERED = (0, '{"pressed": 1011, "text": "ok"}\n', STARTED_MARK + "\n")

    class ScriptedSession:
        def __init__(self, outcomes):
            self.outcomes = list(outcomes)
            self.runs = []

        def run(self, program, *args, timeout=60):
            self.runs.append(args)
            returncode, stdout, stderr = self.outcomes.pop(0)
            return WineResult((program, *args), returncode, stdout, stderr, False)

    def call(self, command, outcomes):
        session = self.ScriptedSession(outcomes)
        with tempfile.NamedTemporaryFile("r", suffix=".txt") as log:
            saved = os.environ.get("INSTALLER_WINE_RERUN_LOG")
            os.environ["INSTALLER_WINE_RERUN_LOG"] = log.name
            try:
                try:
                    answer = Driver(session, exe="test_driver.exe").call(command, "--hwnd", "1")
                except (DriverError, WineFailure) as e:
                    answer = e
            finally:
                if saved is None:
                    del os.environ["INSTALLER_WINE_RERUN_LOG"]
                else:
                    os.environ["INSTALLER_WINE_RERUN_LOG"] = saved
            return answer, len(session.runs), log.read().splitlines()

    def test_a_press_that_never_started_runs_once_more_and_counts(self):
        answer, runs, logged = self.call("press", [self.SILENT_BEFORE_START, self.ANSWERED])
        self.assertEqual(answer, {"pressed": 1011, "text": "ok"})
        self.assertEqual(runs, 2)
        self.assertEqual(len(logged), 1)
        self.assertIn("test_driver press", logged[0])

    def test_a_press_that_started_is_not_pressed_twice(self):
        answer, runs, logged = self.call("press", [self.SILENT_AFTER_START, self.ANSWERED])
        self.assertIsInstance(answer, DriverError)
        self.assertEqual((runs, logged), (1, []))

    def test_a_command_that_changes_nothing_runs_once_more_even_after_its_start(self):
        answer, runs, logged = self.call("list", [self.SILENT_AFTER_START, self.ANSWERED])
        self.assertEqual(answer["pressed"], 1011)
        self.assertEqual((runs, len(logged)), (2, 1))

    def test_at_most_once_and_an_answer_is_never_run_again(self):
        # Twice without starting is Wine's failure: the test then runs again in a fresh session.
        answer, runs, _ = self.call("press", [self.SILENT_BEFORE_START, self.SILENT_BEFORE_START, self.ANSWERED])
        self.assertIsInstance(answer, WineFailure)
        self.assertEqual(runs, 2)
        answer, runs, logged = self.call("press", [(3, '{"error": "cannot post"}\n', STARTED_MARK), self.ANSWERED])
        self.assertIn("cannot post", str(answer))
        self.assertEqual((runs, logged), (1, []))


class DriverTest(WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.sample = cls.wine.start(win64_exe(SAMPLE_EXE), timeout=600)
        cls.driver = Driver(cls.wine)
        cls.window = cls.driver.wait(exe=SAMPLE, title="驱动示例", timeout=30)
        cls.hwnd = cls.window["hwnd"]

    def text_of(self, control_id):
        return self.driver.control(self.hwnd, control_id)["text"]

    def test_list_reads_window_and_controls(self):
        windows = self.driver.list(exe=SAMPLE)
        self.assertEqual(len(windows), 1)
        window = windows[0]
        self.assertEqual(window["title"], "驱动示例")
        self.assertEqual(window["class"], "#32770")
        self.assertTrue(window["visible"])
        self.assertEqual(window["exe"], SAMPLE)
        self.assertEqual(child(window, 100)["text"], "欢迎使用安装向导")
        self.assertEqual(child(window, 101)["class"], "Button")
        self.assertEqual(child(window, 101)["text"], "显示消息")
        self.assertEqual(child(window, 105)["class"], "Edit")
        self.assertEqual(child(window, 105)["text"], "C:\\Program Files\\示例")
        self.assertIn("check", child(window, 102))
        left, top, right, bottom = window["rect"]
        c_left, c_top, c_right, c_bottom = child(window, 100)["rect"]
        self.assertTrue(left <= c_left < c_right <= right and top <= c_top < c_bottom <= bottom)
        self.assertEqual(self.driver.list(exe="no_such_program.exe"), [])

    def test_the_driver_says_it_started_through_wine(self):
        # The harness runs a silent command once more only when this line is missing.
        result = self.wine.run(win64_exe(DRIVER_EXE), "info")
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertIn(STARTED_MARK, result.stderr)

    def test_press_toggles_check_box(self):
        before = self.driver.control(self.hwnd, 102)["check"]
        self.assertTrue(self.driver.press(self.hwnd, 102)["completed"])
        self.assertEqual(self.driver.control(self.hwnd, 102)["check"], 1 - before)
        self.driver.press(self.hwnd, 102)
        self.assertEqual(self.driver.control(self.hwnd, 102)["check"], before)

    def test_message_box_is_read_and_answered(self):
        for button, expected in (("Cancel", 2), ("OK", 1)):
            # The button's handler stays in the message box, so the press does not complete.
            self.assertFalse(self.driver.press(self.hwnd, 101, wait_ms=300)["completed"])
            box = self.driver.msgbox(exe=SAMPLE, timeout=10)
            self.assertEqual(box["title"], "提示")
            self.assertEqual(box["text"], "你好，世界！")
            self.assertEqual(sorted(b["id"] for b in box["buttons"]), [1, 2])
            self.assertTrue(all(b["text"] for b in box["buttons"]))
            self.assertEqual(self.driver.msgbox_press(button, exe=SAMPLE)["pressed"], expected)
            self.wait_until(lambda: self.text_of(103) == f"消息框返回 {expected}", message="the answer")
            self.assertTrue(self.driver.no_msgbox(exe=SAMPLE, within=0.5))

    def test_message_box_button_by_caption(self):
        self.driver.press(self.hwnd, 101, wait_ms=300)
        box = self.driver.msgbox(exe=SAMPLE, timeout=10)
        cancel = next(b for b in box["buttons"] if b["id"] == 2)
        self.assertEqual(self.driver.msgbox_press(cancel["text"], exe=SAMPLE)["pressed"], 2)
        self.wait_until(lambda: self.text_of(103) == "消息框返回 2", message="the answer")

    def test_missing_windows_and_buttons_are_reported(self):
        with self.assertRaises(DriverNotFound):
            self.driver.wait(title="没有这个窗口", timeout=0.5)
        with self.assertRaises(DriverNotFound):
            self.driver.msgbox(exe=SAMPLE, timeout=0.3)
        with self.assertRaises(DriverNotFound):
            self.driver.press(self.hwnd, 999)

    def test_set_text_changes_edit_box(self):
        self.assertEqual(self.driver.set_text(self.hwnd, 105, "D:\\游戏")["text"], "D:\\游戏")
        self.assertEqual(self.text_of(105), "D:\\游戏")
        self.driver.set_text(self.hwnd, 105, "C:\\Program Files\\示例")

    def test_real_mouse_clicks_check_box(self):
        before = self.driver.control(self.hwnd, 102)["check"]
        self.driver.mouse_click(self.hwnd, 102, x=6)
        self.wait_until(lambda: self.driver.control(self.hwnd, 102)["check"] == 1 - before, timeout=5,
                        message="the click to toggle the check box")
        # A button acts on release, not on press.
        self.driver.mouse_down(self.hwnd, 102, x=6)
        time.sleep(0.5)
        self.assertEqual(self.driver.control(self.hwnd, 102)["check"], 1 - before)
        self.driver.mouse_up(self.hwnd, 102, x=6)
        self.wait_until(lambda: self.driver.control(self.hwnd, 102)["check"] == before, timeout=5,
                        message="the release to toggle the check box back")
        self.driver.mouse_move(self.hwnd, 100)

    def test_mouse_move_reaches_the_window_at_its_point(self):
        window = self.driver.window(self.hwnd)
        left, top = window["rect"][:2]
        origin_x, origin_y = window["client_origin"]
        width, height = window["client"][2:]
        controls = [c["rect"] for c in window["children"]]

        def free(x, y):
            return not any(l - 2 <= x < r + 2 and t - 2 <= y < b + 2 for l, t, r, b in controls)

        points = [(origin_x + x, origin_y + y) for y in range(30, height - 4, 7) for x in range(30, width - 4, 9)]
        chosen = [p for p in points if free(*p)][::5][:2]
        self.assertEqual(len(chosen), 2, "no free surface to hover over")
        for x, y in chosen:
            self.driver.mouse_move(self.hwnd, x=x - left, y=y - top)
            expected = f"鼠标 {x - origin_x},{y - origin_y}"
            self.wait_until(lambda: self.text_of(106) == expected, timeout=5, message=expected)

    def test_mouse_down_shows_pressed_button_and_up_clicks_it(self):
        normal = self.artifact_path("button-normal.png")
        pressed = self.artifact_path("button-pressed.png")
        self.driver.mouse_move(self.hwnd, 101)
        self.driver.screenshot(self.hwnd, normal, control_id=101)
        self.driver.mouse_down(self.hwnd, 101)
        self.driver.screenshot(self.hwnd, pressed, control_id=101)
        self.assertTrue(self.driver.no_msgbox(exe=SAMPLE, within=0.3), "the button acted before release")
        self.driver.mouse_up(self.hwnd, 101)
        self.driver.msgbox(exe=SAMPLE, timeout=10)
        self.driver.msgbox_press("Cancel", exe=SAMPLE)
        self.wait_until(lambda: self.text_of(103) == "消息框返回 2", message="the answer")
        before = Image.open(normal).convert("RGB")
        after = Image.open(pressed).convert("RGB")
        self.assertEqual(before.size, after.size)
        changed = sum(1 for a, b in zip(before.getdata(), after.getdata()) if a != b)
        self.assertGreater(changed, 20, "a pressed button looks like a released one")

    def test_screenshot_shows_painted_window_and_chinese_glyphs(self):
        path = self.artifact_path("sample.png")
        window = self.driver.window(self.hwnd)
        answer = self.driver.screenshot(self.hwnd, path)
        left, top, right, bottom = answer["rect"]
        self.assertEqual(answer["rect"], window["rect"])
        image = Image.open(path).convert("RGB")
        self.assertEqual(image.size, (right - left, bottom - top))

        def local(point):
            return point[0] - left, point[1] - top

        origin = local(window["client_origin"])
        client_width = window["client"][2]
        self.assertEqual(image.getpixel((origin[0] + 5, origin[1] + 5)), MARKER)
        self.assertEqual(image.getpixel((origin[0] + 30, origin[1] + 5)), BACKGROUND)
        self.assertEqual(image.getpixel((origin[0] + client_width - 4, origin[1] + 4)), BACKGROUND)

        def box_of(control_id):
            c_left, c_top, c_right, c_bottom = child(window, control_id)["rect"]
            return (*local((c_left, c_top)), *local((c_right, c_bottom)))

        # Real CJK glyphs: a row of "一" is one thin stroke wide across; missing glyphs would
        # be drawn as hollow boxes as tall as the line. Dialog font, default GUI font, caption font.
        for probe in (104, 107, 108):
            stroke = ink_pixels(image, box_of(probe))
            self.assertGreater(len({x for x, _ in stroke}), 30, f"glyph probe {probe} drew nothing")
            self.assertLessEqual(len({y for _, y in stroke}), 3, f"CJK glyphs of probe {probe} are boxes")
        greeting = ink_pixels(image, box_of(100))
        self.assertGreaterEqual(len({y for _, y in greeting}), 8, "the Chinese greeting is not drawn")


if __name__ == "__main__":
    unittest.main()
