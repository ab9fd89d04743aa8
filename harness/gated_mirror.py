"""A mirror in a thread of the test that holds the package's last block until the test lets
it go: the download, and so the installer's Install stage, lasts exactly as long as a test
needs it, however fast or slow the machine."""
import http.server
import re
import threading


class GatedMirror:
    """A mirror (a thread of the test) that serves the package by ranges but holds every
    request for its last block until `release()`: the download, and so the Install stage,
    lasts exactly as long as the test needs it."""

    def __init__(self, data):
        gate = self.gate = threading.Event()
        last_block_start = (len(data) - 1) // 204800 * 204800

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                m = re.match(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
                start = int(m.group(1)) if m else 0
                end = min(int(m.group(2)) if m and m.group(2) else len(data) - 1, len(data) - 1)
                if end >= last_block_start:
                    gate.wait(600)
                body = data[start:end + 1]
                self.send_response(206 if m else 200)
                self.send_header("Content-Length", str(len(body)))
                if m:
                    self.send_header("Content-Range", f"bytes {start}-{end}/{len(data)}")
                self.end_headers()
                try:
                    self.wfile.write(body)
                except OSError:
                    pass  # the installer gave up on a held request and asked again

            def handle(self):
                try:
                    super().handle()
                except OSError:
                    pass

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path):
        return f"http://127.0.0.1:{self.server.server_address[1]}{path}"

    def release(self):
        self.gate.set()

    def close(self):
        self.gate.set()
        self.server.shutdown()
        self.server.server_close()
        self.thread.join(10)
