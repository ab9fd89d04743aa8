"""Runs Windows programs of the win64 and win32 builds under Wine for integration tests.

- One private prefix, created once and reused: <repo>/build/wineprefix, or the path in
  INSTALLER_WINEPREFIX. Give each concurrent test run its own prefix: ending a session
  runs `wineserver -k` for the prefix, which ends every program in it.
- A session (`WineSession`, a context manager) owns an Xvfb display and every program it
  starts; closing it ends those programs by process id, then the prefix's wineserver,
  then the X server.
- `WineTestCase` (harness/wine_test_case.py) opens one session per test class.
- 64-bit programs start through the 64-bit loader (wine64). PE32 programs (the shipped
  32-bit installer) start through the 32-bit loader (wine32, see scripts/setup-deps) in
  the same 64-bit prefix, whose 32-bit half is then set up too.

Environment knobs: INSTALLER_WINEPREFIX (prefix path), INSTALLER_WINEDEBUG (WINEDEBUG for
the programs, default "-all"). Where the builds are: harness/builds.py.
"""
import fcntl
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

from harness.builds import REPO
from harness.process import end_process
from harness.xvfb import Xvfb, XvfbError

WINE_LOADER = "/usr/lib/wine/wine64"
WINE_LOADER_32 = "/usr/lib/wine/wine"
WINESERVER = "/usr/lib/wine/wineserver"
DLL_OVERRIDES = "mscoree,mshtml="
LANGUAGE = "zh_CN.UTF-8"
READY_MARK = ".installer-prefix-ready"
# Written once the prefix's 32-bit half is set up too (the 32-bit loader was there when
# wineboot ran); a prefix made before that is brought up to date on first 32-bit use.
WOW64_MARK = ".installer-prefix-32bit-ready"
# Bumped when the prefix's set-up below changes, so that an older prefix is set up again.
PREFIX_VERSION = "1"

# Wine already draws Chinese dialog texts ("MS Shell Dlg") with the CJK font that fontconfig
# offers; programs that ask for the Windows Chinese faces by name get it too.
CJK_FONT = "WenQuanYi Micro Hei"
FONT_REPLACEMENTS = ["SimSun", "NSimSun", "宋体", "新宋体", "Microsoft YaHei", "微软雅黑", "SimHei", "黑体"]


class WineError(RuntimeError):
    pass


class WineFailure(WineError):
    """Wine itself failed (not the program it ran): its server went away under a client, or
    a program ended without running at all."""


# What Wine prints (or the harness raises) when Wine itself failed; a test error whose text
# holds one of these is a Wine failure, not the code's.
WINE_FAILURE_MARKS = ("WineFailure", "wine client error")


def announce_wine_rerun(message, entry):
    """Says on stderr that something is run once more because Wine itself failed, and appends
    `entry` to the file INSTALLER_WINE_RERUN_LOG names, if any: the suite's summary counts them."""
    print(f"\n[wine] {message}", file=sys.stderr, flush=True)
    log = os.environ.get("INSTALLER_WINE_RERUN_LOG")
    if log:
        with open(log, "a", encoding="utf-8") as f:
            f.write(entry + "\n")


def default_prefix():
    return os.environ.get("INSTALLER_WINEPREFIX") or os.path.join(REPO, "build", "wineprefix")


IMAGE_FILE_MACHINE_I386 = 0x014C


def is_pe32(path):
    """True when `path` is a Windows program for 32-bit x86 (its PE header's machine)."""
    try:
        with open(path, "rb") as f:
            head = f.read(64)
            if len(head) < 64 or head[:2] != b"MZ":
                return False
            f.seek(int.from_bytes(head[0x3C:0x40], "little"))
            pe = f.read(6)
    except OSError:
        return False
    return len(pe) == 6 and pe[:4] == b"PE\0\0" and int.from_bytes(pe[4:6], "little") == IMAGE_FILE_MACHINE_I386


def loader_for(program):
    """The Wine loader that starts `program`: the 32-bit one for a PE32 file, else wine64
    (64-bit programs and Wine's built-in programs named without a path)."""
    return WINE_LOADER_32 if os.path.isfile(program) and is_pe32(program) else WINE_LOADER


def to_windows_path(unix_path):
    """The Z: drive path under which Wine programs see a host path."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def base_environment(prefix, display=None):
    env = {k: v for k, v in os.environ.items() if not k.startswith("LC_") and k not in ("LANGUAGE", "DISPLAY")}
    env.update(WINEPREFIX=prefix, WINEARCH="win64", WINEDLLOVERRIDES=DLL_OVERRIDES, LANG=LANGUAGE,
               WINEDEBUG=os.environ.get("INSTALLER_WINEDEBUG", "-all"))
    if display:
        env["DISPLAY"] = display
    return env


def _registry_file_text():
    lines = ["Windows Registry Editor Version 5.00", "", r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]"]
    lines += [f'"{name}"="{CJK_FONT}"' for name in FONT_REPLACEMENTS]
    return "\r\n".join(lines) + "\r\n"


def processes_in_prefix(prefix):
    """Process ids of the programs that run with WINEPREFIX=`prefix` (read from /proc)."""
    wanted = b"WINEPREFIX=" + os.fsencode(os.path.abspath(prefix))
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                if wanted in f.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            continue  # gone meanwhile, or not ours to read
    return found


def kill_wineserver(prefix, timeout=30):
    """Ends the wineserver of `prefix` and with it every program still running in it; a
    program that had not reached the server yet is ended by its process id."""
    env = base_environment(prefix)
    try:
        subprocess.run([WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=timeout)
        subprocess.run([WINESERVER, "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=timeout)
    except subprocess.TimeoutExpired:
        pass
    for pid in processes_in_prefix(prefix):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def _loader_32_present():
    return os.access(WINE_LOADER_32, os.X_OK)


def _write_mark(path, text):
    with open(path, "w") as f:
        f.write(text + "\n")


def _run_wine_step(args, env, timeout):
    """Runs one step of setting up a prefix; a step that fails raises WineError with the tail
    of what Wine said."""
    step = " ".join(map(str, args[1:]))
    try:
        done = subprocess.run(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=timeout)
    except subprocess.TimeoutExpired as e:
        raise WineError(f"{step} took more than {timeout} s") from e
    if done.returncode != 0:
        said = done.stderr.decode("utf-8", "replace").strip()[-300:] or "nothing on stderr"
        raise WineError(f"{step} ended with exit code {done.returncode} ({said})")


def _create_prefix(env, timeout, with_loader_32):
    # wineboot sets up the 32-bit half as well whenever the 32-bit loader is there.
    _run_wine_step([WINE_LOADER, "wineboot", "-i"], env, timeout * 2 if with_loader_32 else timeout)
    _run_wine_step([WINESERVER, "-w"], env, timeout)
    with tempfile.TemporaryDirectory() as tmp:
        reg = os.path.join(tmp, "fonts.reg")
        with open(reg, "w", encoding="utf-16") as f:
            f.write(_registry_file_text())
        _run_wine_step([WINE_LOADER, "regedit", "/S", to_windows_path(reg)], env, timeout)
        _run_wine_step([WINESERVER, "-w"], env, timeout)


def _add_32bit_half(env, timeout):
    _run_wine_step([WINE_LOADER, "wineboot", "-u"], env, timeout * 2)
    _run_wine_step([WINESERVER, "-w"], env, timeout)


def ensure_prefix(prefix=None, display=None, timeout=300, with_32bit=False):
    """Creates the prefix once (quietly) and returns its path; later calls reuse it.

    With `with_32bit` the prefix must also run 32-bit programs: one made while the 32-bit
    loader was missing is updated once (wineboot -u, which then sets up the 32-bit half).
    Creation is serialised with a lock file, so parallel test processes wait for the first.
    A set-up that fails raises WineError naming the step and what Wine said; a prefix it was
    creating is removed, so that the next try starts from an empty folder.
    """
    prefix = os.path.abspath(prefix or default_prefix())
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    mark = os.path.join(prefix, READY_MARK)
    wow64_mark = os.path.join(prefix, WOW64_MARK)
    if with_32bit and not _loader_32_present():
        raise WineError(f"{WINE_LOADER_32} is missing: run scripts/setup-deps")
    with open(prefix + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        ready = False
        if os.path.isfile(mark):
            with open(mark) as f:
                ready = f.read().strip() == PREFIX_VERSION
        if ready and (not with_32bit or os.path.isfile(wow64_mark)):
            return prefix
        env = base_environment(prefix, display)
        with_loader_32 = ready or _loader_32_present()
        try:
            if ready:
                _add_32bit_half(env, timeout)
            else:
                _create_prefix(env, timeout, with_loader_32)
        except WineError as e:
            kill_wineserver(prefix)
            if not ready:
                shutil.rmtree(prefix, ignore_errors=True)
            raise WineError(f"setting up the Wine prefix {prefix} failed: {e}") from e
        if with_loader_32:
            _write_mark(wow64_mark, PREFIX_VERSION)
        if not ready:
            _write_mark(mark, PREFIX_VERSION)
    return prefix


class WineResult:
    def __init__(self, args, returncode, stdout, stderr, timed_out):
        self.args = args
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.timed_out = timed_out

    def __repr__(self):
        return f"WineResult(args={self.args!r}, returncode={self.returncode}, timed_out={self.timed_out})"


class WineProcess:
    """A program started under Wine. Its Unix process id is `pid`; it is killed when its
    timeout passes (a watchdog), and by the session at the latest."""

    def __init__(self, args, env, cwd, timeout):
        self.args = list(args)
        self._out = tempfile.TemporaryFile(prefix="wine-out-")
        self._err = tempfile.TemporaryFile(prefix="wine-err-")
        self.popen = subprocess.Popen([loader_for(self.args[0]), *self.args], env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                      stdout=self._out, stderr=self._err, start_new_session=True)
        self.pid = self.popen.pid
        self.started_at = time.monotonic()
        self.timed_out = False
        self._watchdog = threading.Timer(timeout, self._expire)
        self._watchdog.daemon = True
        self._watchdog.start()

    def _expire(self):
        if self.popen.poll() is None:
            self.timed_out = True
            self.kill()

    def running(self):
        return self.popen.poll() is None

    def wait(self, timeout):
        """Waits up to `timeout` seconds; returns the exit code, or None if still running."""
        try:
            return self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    @property
    def returncode(self):
        return self.popen.poll()

    def kill(self):
        if self.popen.poll() is None:
            try:
                os.kill(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.popen.wait(10)

    def _read(self, f):
        if f.closed:  # what it said stays readable after close
            return self._said_before_close[f is self._err]
        f.flush()
        f.seek(0)
        return f.read().decode("utf-8", "replace")

    @property
    def stdout(self):
        return self._read(self._out)

    @property
    def stderr(self):
        return self._read(self._err)

    def ended_silently(self):
        """Ended by itself with exit code 1 and no word at all: what a program looks like that
        Wine ended before its first instruction (our programs say why they fail)."""
        return not self.timed_out and self.popen.poll() == 1 and not self.stdout.strip() and not self.stderr.strip()

    def result(self):
        return WineResult(self.args, self.popen.poll(), self.stdout, self.stderr, self.timed_out)

    def close(self):
        self._watchdog.cancel()
        self.kill()
        if not self._out.closed:
            self._said_before_close = (self.stdout, self.stderr)
        self._out.close()
        self._err.close()


class WineSession:
    """Xvfb + the private prefix + the programs started in it, all ended on close."""

    def __init__(self, prefix=None, with_display=True, with_32bit=False):
        self.prefix = os.path.abspath(prefix or default_prefix())
        self.with_display = with_display
        self.with_32bit = with_32bit
        self.xvfb = None
        self.server = None  # the prefix's wineserver, kept alive while the session is open
        self.processes = []

    @property
    def display(self):
        return self.xvfb.display if self.xvfb else None

    def open(self):
        """Starts Xvfb and the prefix's server, setting the prefix up first if need be. Wine
        fails there now and then on a loaded machine (a wineboot or regedit that ends with exit
        code 1 and no word why): a failed opening ends what it started, is announced, and is
        done once more; a second failure raises."""
        try:
            return self._open()
        except (WineError, XvfbError, subprocess.TimeoutExpired) as e:
            announce_wine_rerun(f"opening a Wine session on {self.prefix} failed ({str(e)[-300:]}): "
                                f"opening it once more", f"session {self.prefix}")
        return self._open()

    def _open(self):
        try:
            if self.with_display:
                self.xvfb = Xvfb().start()
            ensure_prefix(self.prefix, self.display, with_32bit=self.with_32bit)
            self._start_server()
        except Exception:
            self.close()
            raise
        return self

    def _start_server(self):
        """Keeps one wineserver for the prefix alive until the session closes. Left to
        itself the server ends a few seconds after its last program; a program (or `reg`)
        started just then reaches a server that is going away and fails ("wine client
        error"), which between two tests happens now and then. A server left by an earlier
        run is waited out first, so that this one is the prefix's only server."""
        env = base_environment(self.prefix)
        subprocess.run([WINESERVER, "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)
        self.server = subprocess.Popen([WINESERVER, "-f", "-p"], env=env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)

    def environment(self, extra=None):
        env = base_environment(self.prefix, self.display)
        if extra:
            env.update(extra)
        return env

    def start(self, program, *args, timeout=120, cwd=None, env=None):
        """Starts `program` (a host path of an .exe, or a Wine built-in name) with `args`."""
        process = WineProcess([program, *map(str, args)], self.environment(env), cwd, timeout)
        self.processes.append(process)
        return process

    def run(self, program, *args, timeout=60, cwd=None, env=None):
        """Runs a program to its end; a run that outlives `timeout` is killed and marked."""
        process = self.start(program, *args, timeout=timeout + 5, cwd=cwd, env=env)
        try:
            if process.wait(timeout) is None:
                process.timed_out = True
                process.kill()
            return process.result()
        finally:
            process.close()
            self.processes.remove(process)

    def run_setting(self, program, *args, timeout=60):
        """Runs a command that may safely run twice (`reg add`, say) and must succeed. Wine ends
        one now and then with exit code 1 and no word: that is announced and run once more; a
        second failure is a WineFailure (the test then runs again in a fresh session)."""
        result = self.run(program, *args, timeout=timeout)
        if result.returncode == 0:
            return result
        command = " ".join(map(str, (program, *args)))
        announce_wine_rerun(f"{command} failed ({result}, stderr {result.stderr.strip()[-200:]!r}): "
                            f"running it once more", command)
        result = self.run(program, *args, timeout=timeout)
        if result.returncode != 0:
            raise WineFailure(f"{command} failed twice: {result}, stderr {result.stderr.strip()[-200:]!r}")
        return result

    def silent_ends_since(self, moment):
        """The programs started at or after `moment` (time.monotonic()) that ended silently."""
        return [p for p in self.processes if p.started_at >= moment and p.ended_silently()]

    def close(self):
        for process in self.processes:
            process.close()
        self.processes = []
        if os.path.isdir(self.prefix):
            kill_wineserver(self.prefix)
        if self.server is not None:
            end_process(self.server)
            self.server = None
        if self.xvfb is not None:
            self.xvfb.stop()
            self.xvfb = None

    def __enter__(self):
        return self.open()

    def __exit__(self, *exc):
        self.close()
        return False
