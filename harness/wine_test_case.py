"""The base of every test that runs Windows programs: one Wine session (with its own X
server) per test class, a place for artifacts, and a polling wait.

Wine itself fails now and then on a loaded machine (its server goes away under a client,
a program ends before its first instruction). Such a failure is no verdict on the code
under test: the harness says so plainly, opens a fresh session and runs that test once
more, at most once. Each re-run is announced and, when INSTALLER_WINE_RERUN_LOG names a
file, appended to it, so that the suite's summary counts them."""
import os
import shutil
import sys
import tempfile
import time
import traceback
import unittest

from harness.wine import WINE_FAILURE_MARKS, WINE_LOADER, WineError, WineSession, announce_wine_rerun


class _Recorder(unittest.TestResult):
    """Keeps a test's outcomes (with their tracebacks) to hand them on to the real result."""

    def __init__(self):
        super().__init__()
        self.calls = []

    def addError(self, test, err):
        self.calls.append(("addError", test, err))

    def addFailure(self, test, err):
        self.calls.append(("addFailure", test, err))

    def addSuccess(self, test):
        self.calls.append(("addSuccess", test))

    def addSkip(self, test, reason):
        self.calls.append(("addSkip", test, reason))

    def addExpectedFailure(self, test, err):
        self.calls.append(("addExpectedFailure", test, err))

    def addUnexpectedSuccess(self, test):
        self.calls.append(("addUnexpectedSuccess", test))

    def addSubTest(self, test, subtest, err):
        self.calls.append(("addSubTest", test, subtest, err))

    def failed(self):
        return any(call[0] in ("addError", "addFailure") or (call[0] == "addSubTest" and call[-1])
                   for call in self.calls)

    def wine_failure(self):
        """The text of the first error or failure that Wine itself caused, or None."""
        for call in self.calls:
            err = call[-1] if call[0] in ("addError", "addFailure", "addSubTest") else None
            if not err:
                continue
            text = "".join(traceback.format_exception(*err))
            if any(mark in text for mark in WINE_FAILURE_MARKS):
                return text
        return None


class WineTestCase(unittest.TestCase):
    """One Wine session (with its own Xvfb) per test class: `self.wine`."""

    wine = None
    with_display = True
    with_32bit = False  # the class also starts 32-bit programs

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if shutil.which(WINE_LOADER) is None:
            raise WineError(f"{WINE_LOADER} is missing: run scripts/setup-deps")
        cls.wine = cls.open_session()
        # Class cleanups run even when a subclass's setUpClass fails after this point.
        cls.addClassCleanup(cls._close_wine)

    def run(self, result=None):
        if result is None:
            return super().run(result)
        first = _Recorder()
        began = time.monotonic()
        super().run(first)
        failure = first.wine_failure()
        if failure is None and first.failed() and type(self).wine is not None:
            # A program that Wine ended before it ran leaves a test failing for no fault of the
            # code (its window never appears): Wine's failure as well.
            silent = type(self).wine.silent_ends_since(began)
            if silent:
                failure = f"{os.path.basename(silent[0].args[0])} ended with exit code 1 and no word"
        if failure is None:
            result.startTest(self)
            for name, *args in first.calls:
                getattr(result, name)(*args)
            result.stopTest(self)
            return result
        last_line = failure.strip().splitlines()[-1]
        announce_wine_rerun(f"Wine itself failed in {self.id()} ({last_line[:200]}): a Wine failure, not a test "
                            f"failure; running the test once more in a fresh session", self.id())
        cls = type(self)
        cls._close_wine()
        try:
            cls.wine = cls.open_session()
        except Exception:  # told as this test's error; the suite goes on
            result.startTest(self)
            result.addError(self, sys.exc_info())
            result.stopTest(self)
            return result
        return super().run(result)

    @classmethod
    def open_session(cls):
        return WineSession(with_display=cls.with_display, with_32bit=cls.with_32bit).open()

    @classmethod
    def _close_wine(cls):
        if cls.wine is not None:
            cls.wine.close()
            cls.wine = None

    def artifact_path(self, name):
        """Where a test keeps a file worth looking at afterwards (screenshots): under
        $INSTALLER_ARTIFACTS/<class> when that is set, else in a folder removed with the class."""
        cls = type(self)
        if getattr(cls, "_artifacts", None) is None:
            root = os.environ.get("INSTALLER_ARTIFACTS")
            if root:
                cls._artifacts = os.path.join(root, cls.__name__)
                os.makedirs(cls._artifacts, exist_ok=True)
            else:
                holder = tempfile.TemporaryDirectory(prefix=cls.__name__ + "-")
                cls._artifacts = holder.name
                cls.addClassCleanup(holder.cleanup)
                cls.addClassCleanup(setattr, cls, "_artifacts", None)
        return os.path.join(cls._artifacts, name)

    def wait_until(self, predicate, timeout=20.0, interval=0.2, message="condition"):
        """Polls `predicate` until it returns a true value, which is returned; fails on timeout."""
        deadline = time.monotonic() + timeout
        while True:
            value = predicate()
            if value:
                return value
            if time.monotonic() > deadline:
                self.fail(f"timed out after {timeout} s waiting for {message}")
            time.sleep(interval)
