"""A private X server (Xvfb) on a free display for tests that show windows.

The server picks its own free display number (-displayfd), accepts local clients
without authorisation (-ac, unix socket only) and is ended by its process id.
"""
import os
import select
import subprocess
import tempfile
import time

from harness.process import end_process

XVFB = "/usr/bin/Xvfb"


class XvfbError(RuntimeError):
    pass


class Xvfb:
    """Context manager: `with Xvfb() as x: x.display` (":N")."""

    def __init__(self, width=1024, height=768, depth=24, start_timeout=20.0):
        self.geometry = f"{width}x{height}x{depth}"
        self.start_timeout = start_timeout
        self.display = None
        self.process = None
        self._log = None

    @property
    def pid(self):
        return self.process.pid if self.process else None

    def start(self):
        if self.process is not None:
            return self
        read_fd, write_fd = os.pipe()
        self._log = tempfile.TemporaryFile(prefix="xvfb-")
        try:
            self.process = subprocess.Popen(
                [XVFB, "-displayfd", str(write_fd), "-screen", "0", self.geometry, "-ac", "-nolisten", "tcp",
                 "-noreset"],
                pass_fds=(write_fd,), stdin=subprocess.DEVNULL, stdout=self._log, stderr=self._log)
        except OSError as e:
            os.close(read_fd)
            os.close(write_fd)
            raise XvfbError(f"cannot start {XVFB}: {e}") from e
        os.close(write_fd)
        try:
            number = self._read_display_number(read_fd)
        except Exception:
            self.stop()
            raise
        finally:
            os.close(read_fd)
        self.display = f":{number}"
        return self

    def _read_display_number(self, fd):
        deadline = time.monotonic() + self.start_timeout
        text = b""
        while not text.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise XvfbError("Xvfb did not report its display in time" + self._log_tail())
            ready, _, _ = select.select([fd], [], [], remaining)
            if not ready:
                continue
            chunk = os.read(fd, 64)
            if not chunk:
                raise XvfbError("Xvfb ended before it reported its display" + self._log_tail())
            text += chunk
        return int(text.strip())

    def _log_tail(self):
        if self._log is None:
            return ""
        self._log.seek(0)
        return ":\n" + self._log.read()[-2000:].decode("utf-8", "replace")

    def stop(self):
        if self.process is not None:
            end_process(self.process)
            self.process = None
        if self._log is not None:
            self._log.close()
            self._log = None
        self.display = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False
