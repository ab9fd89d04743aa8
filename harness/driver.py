"""Python side of test_driver.exe: sees and uses the windows of programs under Wine.

Every method runs test_driver.exe once in the given WineSession and returns its JSON
answer (dicts and lists; window handles are integers). A window or control that cannot
be found raises DriverNotFound; any other failure raises DriverError.

    driver = Driver(self.wine)
    window = driver.wait(title="安装")
    driver.press(window["hwnd"], 1011)
    box = driver.msgbox(exe="online_installer.exe")
    driver.msgbox_press("OK")
    driver.screenshot(window["hwnd"], "/tmp/shot.png")
"""
import json
import os
import time

from harness.builds import win64_exe
from harness.wine import WineFailure, announce_wine_rerun
from harness.wine import to_windows_path

DRIVER_EXE = os.path.join("tests", "programs", "test_driver", "test_driver.exe")
SAMPLE_EXE = os.path.join("tests", "programs", "test_driver", "driver_sample.exe")

NOT_FOUND_EXIT = 2
# How long a test waits for a program's window to appear: generous, since a loaded machine
# (two cores shared by builds and other Wine runs) can take half a minute to start one, and
# waiting longer costs nothing when the window comes.
WINDOW_WAIT = 90.0
WM_CLOSE = 0x0010


class DriverError(RuntimeError):
    pass


class DriverNotFound(DriverError):
    pass


# The driver's first line on stderr, written before it looks at its command.
STARTED_MARK = "test_driver: started"

# Commands that may run twice with the end state of running once: those that change
# nothing in the programs under test, and moving the pointer to a given point.
RERUNNABLE = frozenset({"list", "wait", "msgbox", "info", "can-write", "screenshot", "mouse-move"})


def _ended_silently(result):
    """The driver ended in failure without a word on stdout (not by its time-out)."""
    return result.returncode != 0 and not result.stdout.strip() and not result.timed_out


def _flag_args(**options):
    args = []
    for name, value in options.items():
        if value is None or value is False:
            continue
        flag = "--" + name.replace("_", "-")
        args.append(flag)
        if value is not True:
            args.append(str(value))
    return args


def child(window, control_id):
    """The control of `window` (a dict from list/wait) with `control_id`, or None."""
    for c in window.get("children", []):
        if c["id"] == control_id:
            return c
    return None


class Driver:
    def __init__(self, session, exe=None):
        self.session = session
        self.exe = exe or win64_exe(DRIVER_EXE)

    def call(self, command, *args, timeout=60):
        result = self.session.run(self.exe, command, *args, timeout=timeout)
        if _ended_silently(result) and (STARTED_MARK not in result.stderr or command in RERUNNABLE):
            # The driver ended without a word (seen once in a while under Wine). Without its
            # start line it never reached its command, so any command, a press included, is
            # safe to run again; with it, only a command that changes nothing is.
            started = "after" if STARTED_MARK in result.stderr else "before"
            line = f"test_driver {command}: ended silently (exit {result.returncode}) {started} its start line"
            announce_wine_rerun(line + "; run once more", line)
            result = self.session.run(self.exe, command, *args, timeout=timeout)
        if result.timed_out:
            raise DriverError(f"test_driver {command} timed out")
        if _ended_silently(result) and "wine client error" in result.stderr:
            raise WineFailure(f"test_driver {command}: {result.stderr.strip()[-300:]}")
        if _ended_silently(result) and STARTED_MARK not in result.stderr:
            raise WineFailure(f"test_driver {command}: ended twice before its first instruction "
                              f"(exit {result.returncode}) {result.stderr.strip()[-300:]}")
        try:
            answer = json.loads(result.stdout) if result.stdout.strip() else None
        except ValueError as e:
            raise DriverError(f"test_driver {command}: unreadable output {result.stdout!r}") from e
        if result.returncode != 0:
            message = answer.get("error") if isinstance(answer, dict) else result.stdout
            error = DriverNotFound if result.returncode == NOT_FOUND_EXIT else DriverError
            raise error(f"test_driver {command} {' '.join(map(str, args))}: {message} "
                        f"(exit {result.returncode}) {result.stderr[-500:]}")
        return answer

    def end_all(self, exe, timeout=30.0):
        """Ends every process of program `exe` inside Wine and waits until Wine is done with
        each (its handles closed); the number ended."""
        return self.call("end-all", *_flag_args(exe=exe, timeout=int(timeout * 1000)), timeout=timeout + 30)["ended"]

    def info(self):
        """{"acp", "oemcp", "locale", "screen"} as the programs under test see them."""
        return self.call("info")

    # Windows and controls.

    def list(self, pid=None, exe=None, title=None, class_name=None, hidden_too=False):
        """Top-level windows (visible ones unless hidden_too) with their controls."""
        return self.call("list", *_flag_args(pid=pid, exe=exe, title=title, **{"class": class_name},
                                             all=hidden_too))

    def wait(self, title=None, class_name=None, exe=None, timeout=10.0, hidden_too=False):
        """The first window whose title contains `title` (and/or of class / program), waiting
        up to `timeout` seconds for it to appear."""
        return self.call("wait", *_flag_args(title=title, exe=exe, **{"class": class_name}, all=hidden_too,
                                             timeout=int(timeout * 1000)), timeout=timeout + 30)

    def window(self, hwnd):
        """A fresh description of one top-level window by handle (hidden ones included)."""
        for w in self.list(hidden_too=True):
            if w["hwnd"] == hwnd:
                return w
        raise DriverNotFound(f"window {hwnd} is gone")

    def control(self, hwnd, control_id):
        found = child(self.window(hwnd), control_id)
        if found is None:
            raise DriverNotFound(f"window {hwnd} has no control {control_id}")
        return found

    def exists(self, hwnd):
        return any(w["hwnd"] == hwnd for w in self.list(hidden_too=True))

    def wait_gone(self, hwnd, timeout=10.0):
        """Waits until the top-level window `hwnd` no longer exists; False on timeout."""
        deadline = time.monotonic() + timeout
        while self.exists(hwnd):
            if time.monotonic() > deadline:
                return False
            time.sleep(0.2)
        return True

    def close(self, hwnd):
        """Asks a window to close (posts WM_CLOSE), as its close box would."""
        return self.message(hwnd, WM_CLOSE, post=True)

    def press(self, hwnd, control_id=None, wait_ms=2000):
        """Clicks a button (BM_CLICK); `completed` is false when its handler is still busy
        (for example showing a message box)."""
        return self.call("press", *_flag_args(hwnd=hwnd, id=control_id, wait=wait_ms))

    def set_text(self, hwnd, control_id, text):
        return self.call("set-text", *_flag_args(hwnd=hwnd, id=control_id), "--text", text)

    def message(self, hwnd, msg, wparam=0, lparam=0, control_id=None, post=False, wait_ms=2000):
        return self.call("message", *_flag_args(hwnd=hwnd, id=control_id, msg=msg, wparam=wparam, lparam=lparam,
                                                post=post, wait=wait_ms))

    def can_write(self, path):
        """Whether a program could open the host file `path` for writing now (False while
        another program holds it without sharing writes)."""
        return self.call("can-write", "--path", to_windows_path(path))["writable"]

    # Real mouse input (hover and pressed looks). x/y are relative to the target's top-left
    # corner; without them the target's centre is used.

    def mouse_move(self, hwnd, control_id=None, x=None, y=None):
        return self.call("mouse-move", *_flag_args(hwnd=hwnd, id=control_id, x=x, y=y))

    def mouse_click(self, hwnd, control_id=None, x=None, y=None):
        return self.call("mouse-click", *_flag_args(hwnd=hwnd, id=control_id, x=x, y=y))

    def mouse_down(self, hwnd, control_id=None, x=None, y=None):
        return self.call("mouse-down", *_flag_args(hwnd=hwnd, id=control_id, x=x, y=y))

    def mouse_up(self, hwnd, control_id=None, x=None, y=None):
        return self.call("mouse-up", *_flag_args(hwnd=hwnd, id=control_id, x=x, y=y))

    # Real keyboard input into the focused control of the foreground window (brought
    # there first): a comma-separated list such as "tab,shift+tab,enter,space,esc,alt+f4".

    def keys(self, hwnd, keys):
        return self.call("keys", *_flag_args(hwnd=hwnd), "--keys", keys)

    def focus_id(self, hwnd):
        """The control id of the window's keyboard focus (0 when no control of it has it)."""
        return self.window(hwnd)["focus_id"]

    def accessible(self, hwnd, control_id=None):
        """What a screen reader learns of the window or control through Active
        Accessibility: name, role (number and text), state, value, default action."""
        return self.call("accessible", *_flag_args(hwnd=hwnd, id=control_id))

    # Message boxes (dialogs of class #32770): title, text and buttons.

    def msgbox(self, exe=None, pid=None, timeout=5.0):
        return self.call("msgbox", *_flag_args(exe=exe, pid=pid, timeout=int(timeout * 1000)),
                         timeout=timeout + 30)

    def msgbox_press(self, button="OK", exe=None, hwnd=None, timeout=5.0):
        """Presses a message box button by standard name (OK, Cancel, Yes, No...) or caption."""
        return self.call("msgbox-press", *_flag_args(button=button, exe=exe, hwnd=hwnd,
                                                     timeout=int(timeout * 1000)), timeout=timeout + 30)

    def no_msgbox(self, exe=None, within=1.0):
        """True when no message box of `exe` shows up within `within` seconds."""
        try:
            self.msgbox(exe=exe, timeout=within)
        except DriverNotFound:
            return True
        return False

    # Screenshots: what is on screen in the window's (or control's) rectangle, as PNG.

    def screenshot(self, hwnd, path, control_id=None, settle=0.3):
        """Saves the screen area of the window to `path` (a host path) and returns the answer
        with its screen rectangle. `settle` seconds pass first so that painting finishes."""
        if settle:
            time.sleep(settle)
        return self.call("screenshot", *_flag_args(hwnd=hwnd, id=control_id, out=to_windows_path(path)))
