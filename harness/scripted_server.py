"""A configuration server of ours for what nginx cannot do: an answer that depends on how
often its path was asked for (the publisher's upload caught half-way), or a body trickled
byte by byte. Used by the fault matrix; ended by stop(), which ends its threads' sockets.

    server = ScriptedConfigServer("127.0.0.1", port, {"/oemini/info.ini": lambda n: body})
    ...
    server.requests  # the paths asked for, oldest first
    server.stop()
"""
import socket
import threading


class ScriptedConfigServer:
    """A configuration server of ours for what nginx cannot do: each path is answered by a
    function of the number of requests for it so far (0 for the first), which returns the
    body, or a (body, seconds between bytes) pair to trickle it. The statistics address
    answers 200. Ended by stop(); `requests` lists the paths asked for."""

    def __init__(self, address, port, routes):
        self.routes = routes
        self.requests = []
        self.counts = {}
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind((address, port))
        self.listener.listen(64)
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        try:
            raw = b""
            while b"\r\n\r\n" not in raw:
                chunk = conn.recv(4096)
                if not chunk:
                    return
                raw += chunk
            target = raw.split(b" ", 2)[1].decode("latin-1")
            path = target.split("?", 1)[0]
            with self.lock:
                self.requests.append(path)
                n = self.counts.get(path, 0)
                self.counts[path] = n + 1
            route = self.routes.get(path)
            if route is None:
                status, body, pace = (b"200 OK", b"ok", 0) if path.startswith("/api/") else (b"404 Not Found", b"", 0)
            else:
                answer = route(n)
                body, pace = answer if isinstance(answer, tuple) else (answer, 0)
                status = b"200 OK"
            conn.sendall(b"HTTP/1.1 " + status + b"\r\nContent-Type: text/plain\r\nContent-Length: " +
                         str(len(body)).encode() + b"\r\nConnection: close\r\n\r\n")
            if not pace:
                conn.sendall(body)
                return
            for i in range(len(body)):
                conn.sendall(body[i:i + 1])
                if self.stopping.wait(pace):
                    return
        except OSError:
            pass
        finally:
            conn.close()

    def stop(self):
        self.stopping.set()
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()
        self.thread.join(5)
