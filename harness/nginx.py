"""nginx on loopback for tests: mirrors, configuration and statistics servers.

Each instance runs as the current user from a generated configuration in a private
directory (root, logs, temp paths), in the foreground, and is ended by its process id.

    with Nginx(files={"pkg.bin": data}) as web:
        url = web.url("/pkg.bin")
        ...
        web.requests()  # request lines seen so far, oldest first

Options: a given `port` (default: a free one), an `address` (127.0.0.x), extra
`server_options` (e.g. "max_ranges 0;"), extra `locations` (full "location ... {}"
blocks), `error_pages` ({404: "/404.html"}), `limit_rate` (e.g. "100k"), `combined_log`
(also keep the log in nginx's combined format, as a production server would, at
`combined_log_path`), `tls` (certificate and key files: answer over TLS; `url()` then
names https://localhost, the name a certificate carries).
"""
import json
import os
import shutil
import socket
import subprocess
import tempfile
import time

from harness.process import end_process

NGINX = "/usr/sbin/nginx"


def port_in_use(address, port):
    """True when something listens on (or holds) `address`:`port`."""
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)  # a closed connection's TIME_WAIT does not count
        try:
            s.bind((address, port))
        except OSError:
            return True
    return False


class NginxError(RuntimeError):
    pass


def free_port(address="127.0.0.1"):
    """A TCP port that was free a moment ago on `address`."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind((address, 0))
        return s.getsockname()[1]


class Nginx:
    def __init__(self, files=None, port=None, address="127.0.0.1", server_options="", locations="",
                 error_pages=None, limit_rate=None, root=None, start_timeout=10.0, combined_log=False, tls=None):
        self.address = address
        self.tls = tls
        self.port = port
        self.server_options = server_options
        self.locations = locations
        self.error_pages = error_pages or {}
        self.limit_rate = limit_rate
        self.start_timeout = start_timeout
        self.dir = tempfile.mkdtemp(prefix="nginx-")
        self.root = root or os.path.join(self.dir, "root")
        os.makedirs(self.root, exist_ok=True)
        self.access_log = os.path.join(self.dir, "access.log")
        self.error_log = os.path.join(self.dir, "error.log")
        self.combined_log_path = os.path.join(self.dir, "access-combined.log") if combined_log else None
        self.process = None
        for name, data in (files or {}).items():
            self.put(name, data)

    @property
    def pid(self):
        return self.process.pid if self.process else None

    def put(self, name, data):
        """Writes a file under the document root (bytes or str); returns its path."""
        path = os.path.join(self.root, name.lstrip("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data.encode("utf-8") if isinstance(data, str) else data)
        return path

    def url(self, path="/"):
        if self.tls:
            return f"https://localhost:{self.port}{path}"
        return f"http://{self.address}:{self.port}{path}"

    def _config(self):
        d = self.dir
        pages = "\n".join(f"        error_page {code} {page};" for code, page in self.error_pages.items())
        rate = f"        limit_rate {self.limit_rate};" if self.limit_rate else ""
        combined = f"        access_log {self.combined_log_path} combined;" if self.combined_log_path else ""
        tls = (f"        ssl_certificate {self.tls[0]};\n        ssl_certificate_key {self.tls[1]};"
               if self.tls else "")
        # One JSON object per request so that tests can read fields without parsing quotes.
        log_format = ('escape=json \'{"request":"$request","status":$status,"bytes":$body_bytes_sent,'
                      '"range":"$http_range","agent":"$http_user_agent","accept":"$http_accept",'
                      '"connection":$connection,"requests":$connection_requests,"args":"$args",'
                      '"time":$msec,"request_time":$request_time,"user":"$remote_user"}\'')
        return f"""
daemon off;
master_process off;
worker_processes 1;
pid {d}/nginx.pid;
error_log {d}/error.log warn;
events {{ worker_connections 256; }}
http {{
    access_log off;
    client_body_temp_path {d}/client_body;
    proxy_temp_path {d}/proxy;
    fastcgi_temp_path {d}/fastcgi;
    uwsgi_temp_path {d}/uwsgi;
    scgi_temp_path {d}/scgi;
    default_type application/octet-stream;
    sendfile on;
    keepalive_requests 100000;
    log_format tests {log_format};
    server {{
        listen {self.address}:{self.port}{" ssl" if self.tls else ""};
        server_name localhost;
{tls}
        root {self.root};
        access_log {self.access_log} tests;
{combined}
{pages}
{rate}
        {self.server_options}
{self.locations}
    }}
}}
"""

    def start(self):
        if self.process is not None:
            return self
        if self.port is None:
            self.port = free_port(self.address)
        elif port_in_use(self.address, self.port):
            # Connecting would reach the other server and pass for this one's start.
            raise NginxError(f"{self.address}:{self.port} is in use already (a server left from another run?)")
        conf = os.path.join(self.dir, "nginx.conf")
        with open(conf, "w") as f:
            f.write(self._config())
        self._stderr = open(os.path.join(self.dir, "stderr.txt"), "wb")
        self.process = subprocess.Popen([NGINX, "-c", conf, "-p", self.dir, "-e", self.error_log],
                                        stdin=subprocess.DEVNULL, stdout=self._stderr, stderr=self._stderr)
        deadline = time.monotonic() + self.start_timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                detail = self._tail()
                self.stop()
                raise NginxError("nginx ended at start:\n" + detail)
            try:
                with socket.create_connection((self.address, self.port), timeout=0.5):
                    return self
            except OSError:
                time.sleep(0.05)
        detail = self._tail()
        self.stop()
        raise NginxError("nginx did not listen in time:\n" + detail)

    def _tail(self):
        out = []
        for name in ("stderr.txt", "error.log"):
            path = os.path.join(self.dir, name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    out.append(f.read()[-2000:].decode("utf-8", "replace"))
        return "\n".join(out)

    def entries(self):
        """Every logged request as a dict (request, status, bytes, range, agent, accept,
        connection, requests, args, time: end in seconds since the epoch, request_time:
        seconds it took, user: the basic-authentication user), oldest first."""
        if not os.path.exists(self.access_log):
            return []
        with open(self.access_log, encoding="utf-8", errors="replace") as f:
            return [json.loads(line) for line in f if line.strip()]

    def requests(self):
        """Request lines ("GET /x HTTP/1.1"), oldest first."""
        return [e["request"] for e in self.entries()]

    def wait_for_requests(self, count, timeout=10.0):
        """Waits until at least `count` requests are logged; returns the request lines."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            lines = self.requests()
            if len(lines) >= count:
                return lines
            time.sleep(0.05)
        return self.requests()

    def stop(self):
        if self.process is not None:
            end_process(self.process)
            self.process = None
            self._stderr.close()

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.cleanup()
        return False
