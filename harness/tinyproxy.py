"""tinyproxy on loopback for tests: an HTTP proxy, with or without a login (`BasicAuth`).

Runs in the foreground from a generated configuration in a private directory and is ended
by its process id. Its log names every request it forwarded (`requests()`), so a test can
tell that the traffic went through it. `system_proxy(session, proxy)` makes it the Wine
prefix's system proxy for the duration of a `with` block.
"""
import contextlib
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time

from harness.nginx import free_port
from harness.process import end_process

TINYPROXY = "/usr/bin/tinyproxy"
INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"


class Tinyproxy:
    def __init__(self, login=None, address="127.0.0.1"):
        self.address = address
        self.port = None
        self.login = login  # (user, password) or None
        self.dir = tempfile.mkdtemp(prefix="tinyproxy-")
        self.log = os.path.join(self.dir, "tinyproxy.log")
        self.process = None

    def start(self, timeout=10.0):
        self.port = free_port(self.address)
        lines = [f"Port {self.port}", f"Listen {self.address}", "Timeout 60", f"LogFile \"{self.log}\"",
                 "LogLevel Info", "MaxClients 64", "Allow 127.0.0.0/8", "DisableViaHeader Yes"]
        if self.login:
            lines.append(f"BasicAuth {self.login[0]} {self.login[1]}")
        conf = os.path.join(self.dir, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        self._out = open(os.path.join(self.dir, "stdout.txt"), "wb")
        self.process = subprocess.Popen([TINYPROXY, "-d", "-c", conf], stdout=self._out, stderr=subprocess.STDOUT,
                                        stdin=subprocess.DEVNULL)
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.process.poll() is not None:
                break
            with contextlib.suppress(OSError):
                with socket.create_connection((self.address, self.port), timeout=0.5):
                    return self
            time.sleep(0.05)
        self.stop()
        raise RuntimeError("tinyproxy did not start: " + self.output())

    def output(self):
        texts = []
        for name in ("stdout.txt", "tinyproxy.log"):
            path = os.path.join(self.dir, name)
            if os.path.exists(path):
                with open(path, errors="replace") as f:
                    texts.append(f.read())
        return "\n".join(texts)

    def requests(self):
        """Request lines the proxy received ("GET http://... HTTP/1.1"), oldest first."""
        return re.findall(r'Request \(file descriptor \d+\): (\S+ \S+ \S+)', self.output())

    def stop(self):
        if self.process is not None:
            end_process(self.process)
            self.process = None
        if getattr(self, "_out", None):
            self._out.close()
            self._out = None

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.cleanup()


@contextlib.contextmanager
def system_proxy(session, proxy):
    """`proxy` is the system proxy of `session`'s Wine prefix inside the block, and is not after."""

    def setting(value, kind, data):
        session.run_setting("reg", "add", INTERNET_SETTINGS, "/v", value, "/t", kind, "/d", data, "/f")

    setting("ProxyServer", "REG_SZ", f"{proxy.address}:{proxy.port}")
    setting("ProxyEnable", "REG_DWORD", "1")
    try:
        yield
    finally:
        setting("ProxyEnable", "REG_DWORD", "0")
        session.run_setting("reg", "delete", INTERNET_SETTINGS, "/v", "ProxyServer", "/f")
