#!/usr/bin/env python3
"""A small HTTP server that serves one file by ranges and makes the faults nginx cannot:
a connection reset in mid-body, a stall in mid-body, a silent accept.

Modes (--mode):
  ok        serve the requested range correctly (206)
  reset     send the headers and half of the range, then reset the connection (RST)
  stall     send the headers and half of the range, then send nothing more
  silent    accept the connection, read the request (logged as the others) and never answer
  flaky     reset the first --faults requests, then behave like `ok`
  corrupt   like `ok`, but the first --faults answers that carry block --block have one
            byte of that block flipped (the rest of the answer is right)
  busy      answer "503 Service Unavailable" with "Retry-After: --retry-after" to every
            request that arrives within --busy-s seconds of the first one, then like `ok`
  overlong  like `ok`, but an answer whose range reaches the end of the file carries --extra
            bytes more than the range asked for (its headers say so): the last block is
            answered longer than the file

--delay-ms holds every answer back that long (a far mirror: the request's round trip);
--log FILE appends "request line<TAB>range<TAB>arrival (seconds since the epoch)<TAB>status"
for every request, flushed at once;
--address binds another loopback address than 127.0.0.1; --file may be left out in the
silent mode, which serves nothing.

Run as a program, it prints its port on the first line of stdout and serves until it is
ended by its process id; tests in Python can use FaultServer as a context manager.
"""
import argparse
import os
import re
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

RANGE = re.compile(r"bytes=(\d+)-(\d*)")


BLOCK = 204800


class Handler:
    def __init__(self, data, mode, faults, delay_ms=0, log_path=None, block=0, busy_s=0.0, retry_after=0, extra=0):
        self.busy_s = busy_s
        self.retry_after = retry_after
        self.extra = extra
        self.first_arrival = None
        self.data = data
        self.mode = mode
        self.faults_left = faults
        self.delay = delay_ms / 1000.0
        self.log_path = log_path
        self.block = block
        self.lock = threading.Lock()
        self.log = []
        self.stop = threading.Event()

    def serve(self, conn):
        try:
            self._serve(conn)
        except OSError:
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    def _read_request(self, conn):
        raw = b""
        while b"\r\n\r\n" not in raw:
            chunk = conn.recv(4096)
            if not chunk:
                return None
            raw += chunk
        return raw.split(b"\r\n\r\n", 1)[0].decode("latin-1")

    def _record(self, request_line, headers, status="", arrival=None):
        with self.lock:
            self.log.append(request_line)
            if self.log_path:
                with open(self.log_path, "a") as f:
                    f.write(f"{request_line}\t{headers.get('range', '')}\t{arrival or time.time():.3f}\t{status}\n")

    def _serve(self, conn):
        while not self.stop.is_set():
            head = self._read_request(conn)
            if head is None:
                return
            lines = head.split("\r\n")
            headers = {}
            for line in lines[1:]:
                key, _, value = line.partition(":")
                headers[key.strip().lower()] = value.strip()
            if self.mode == "silent":
                self._record(lines[0], headers)
                self.stop.wait()
                return
            arrival = time.time()
            m = RANGE.fullmatch(headers.get("range", ""))
            start = int(m.group(1)) if m else 0
            asked_end = int(m.group(2)) if m and m.group(2) else len(self.data) - 1
            end = min(asked_end, len(self.data) - 1)
            if self.mode == "busy":
                with self.lock:
                    if self.first_arrival is None:
                        self.first_arrival = arrival
                    busy = arrival - self.first_arrival < self.busy_s
                if busy:
                    self._record(lines[0], headers, 503, arrival)
                    conn.sendall((f"HTTP/1.1 503 Service Unavailable\r\nRetry-After: {self.retry_after}\r\n"
                                  "Content-Length: 0\r\n\r\n").encode("latin-1"))
                    continue
            self._record(lines[0], headers, 416 if start >= len(self.data) else 206, arrival)
            with self.lock:
                mode = self.mode
                if mode == "flaky":
                    if self.faults_left > 0:
                        self.faults_left -= 1
                        mode = "reset"
                    else:
                        mode = "ok"
                flip = None
                if mode == "corrupt":
                    at = self.block * BLOCK
                    if self.faults_left > 0 and start <= at <= end:
                        self.faults_left -= 1
                        flip = at - start
                    mode = "ok"
            if self.delay:
                time.sleep(self.delay)
            if start >= len(self.data):
                conn.sendall(b"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n")
                continue
            body = self.data[start:end + 1]
            total = len(self.data)
            if flip is not None:
                body = body[:flip] + bytes([body[flip] ^ 0xFF]) + body[flip + 1:]
            if mode == "overlong" and end == len(self.data) - 1:
                # The file's tail, then more than the range asked for.
                end = max(asked_end, end) + self.extra
                body += bytes((i * 37 + 11) % 256 for i in range(end + 1 - start - len(body)))
                total = end + 1
            if mode in ("busy", "overlong"):
                mode = "ok"
            conn.sendall((f"HTTP/1.1 206 Partial Content\r\nContent-Length: {len(body)}\r\n"
                          f"Content-Range: bytes {start}-{end}/{total}\r\n"
                          "Content-Type: application/octet-stream\r\n\r\n").encode("latin-1"))
            if mode == "ok":
                conn.sendall(body)
                continue
            conn.sendall(body[:len(body) // 2])
            if mode == "reset":
                # SO_LINGER with a zero timeout makes close() send RST instead of FIN.
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                return
            self.stop.wait()  # stall
            return


def run(data, mode, faults, port, ready, delay_ms=0, log_path=None, block=0, address="127.0.0.1", busy_s=0.0,
        retry_after=0, extra=0):
    handler = Handler(data, mode, faults, delay_ms, log_path, block, busy_s, retry_after, extra)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(64)
    ready(listener.getsockname()[1])
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=handler.serve, args=(conn,), daemon=True).start()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--file", default=None)
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--mode", default="ok", choices=["ok", "reset", "stall", "silent", "flaky", "corrupt", "busy", "overlong"])
    parser.add_argument("--faults", type=int, default=1)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--delay-ms", type=int, default=0)
    parser.add_argument("--log", default=None)
    parser.add_argument("--block", type=int, default=0)
    parser.add_argument("--busy-s", type=float, default=0.0)
    parser.add_argument("--retry-after", type=int, default=0)
    parser.add_argument("--extra", type=int, default=0)
    args = parser.parse_args()
    if args.file is None and args.mode != "silent":
        parser.error("--file is needed unless the mode is silent")
    data = b""
    if args.file is not None:
        with open(args.file, "rb") as f:
            data = f.read()

    def ready(port):
        print(port, flush=True)

    run(data, args.mode, args.faults, args.port, ready, args.delay_ms, args.log, args.block, args.address, args.busy_s,
        args.retry_after, args.extra)


class FaultServer:
    """Runs this file as a separate process: `with FaultServer(path, "reset") as s: s.url("/x")`.
    `FaultServer(None, "silent", address=..., port=...)` is the server that never answers;
    `request_lines()` gives the request lines every mode has read so far, `entries()` each
    request as a dict (request, range, time: its arrival, status: what it was answered).
    `options` are the other command-line options by name (busy_s=20, retry_after=5, extra=1000)."""

    def __init__(self, path, mode, faults=1, port=0, delay_ms=0, address="127.0.0.1", **options):
        self.log = tempfile.NamedTemporaryFile(prefix="fault-server-", suffix=".log", delete=False)
        self.log.close()
        self.args = [sys.executable, os.path.abspath(__file__), "--mode", mode, "--faults", str(faults),
                     "--port", str(port), "--delay-ms", str(delay_ms), "--address", address, "--log", self.log.name]
        for name, value in options.items():
            self.args += ["--" + name.replace("_", "-"), str(value)]
        if path is not None:
            self.args += ["--file", path]
        self.address = address
        self.process = None
        self.port = None

    def start(self):
        self.process = subprocess.Popen(self.args, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        line = self.process.stdout.readline()
        if not line:
            self.stop()
            raise RuntimeError("fault server did not start")
        self.port = int(line)
        return self

    def url(self, path="/"):
        return f"http://{self.address}:{self.port}{path}"

    def request_lines(self):
        with open(self.log.name, encoding="latin-1") as f:
            return [line.split("\t", 1)[0] for line in f if line.strip()]

    def entries(self):
        found = []
        with open(self.log.name, encoding="latin-1") as f:
            for line in f:
                fields = line.rstrip("\n").split("\t")
                if len(fields) >= 4:
                    found.append({"request": fields[0], "range": fields[1], "time": float(fields[2]),
                                  "status": int(fields[3]) if fields[3] else None})
        return found

    def stop(self):
        if self.process is not None:
            # Imported here: this file also runs on its own as the server, outside the package.
            from harness.process import end_process
            end_process(self.process)
            self.process.stdout.close()
            self.process = None
        if os.path.exists(self.log.name):
            os.remove(self.log.name)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False


if __name__ == "__main__":
    main()
