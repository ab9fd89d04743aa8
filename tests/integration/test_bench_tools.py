"""What the download benchmark measures with: the delay line in front of a mirror, and the
figures it reads from the mirrors' logs (connections at once, busy share, last byte)."""
import os
import socket
import subprocess
import sys
import time
import unittest

from bench.netlab import RELAY, finish_spread, mirror_figures
from harness.nginx import Nginx, free_port
from harness.process import end_process

BIG = 32 * 1024 * 1024


def bodies_of(data):
    """The bodies of the 206 answers in `data` (the last one as far as it arrived)."""
    answers = data.split(b"HTTP/1.1 206 Partial Content\r\n")[1:]
    return [a.partition(b"\r\n\r\n")[2] for a in answers]


class FakeMirror:
    """A mirror's log as mirror_figures reads it."""

    def __init__(self, entries):
        self._entries = entries

    def entries(self):
        return self._entries


def entry(connection, begin, end, sent=1000):
    return {"connection": connection, "time": end, "request_time": end - begin, "bytes": sent}


class MirrorFiguresTest(unittest.TestCase):
    def test_connections_at_once_busy_share_and_last_byte(self):
        started = 100.0
        # Connection 1 answers twice with a pause; 2 overlaps its first answer; 3 opens
        # the moment 2's last answer ends; 4 only after every other one closed.
        log = [entry(1, 100.0, 101.0), entry(2, 100.5, 102.0), entry(1, 103.0, 104.0),
               entry(3, 102.0, 102.5), entry(4, 105.0, 106.0)]
        older = [entry(9, 90.0, 99.0)] * 3  # from an earlier run: not counted
        (figures,) = mirror_figures([FakeMirror(older + log)], [len(older)], started)
        self.assertEqual(figures["requests"], 5)
        self.assertEqual(figures["bytes"], 5000)
        self.assertEqual(figures["connections"], 4)
        # 1 is open from 100 to 104 (between its answers too): with 2, then with 3, which
        # opens in the millisecond 2 closes.
        self.assertEqual(figures["at_once"], 3)
        # Sending 100-102.5, 103-104 and 105-106 of 100-106.
        self.assertAlmostEqual(figures["busy"], 4.5 / 6)
        self.assertAlmostEqual(figures["finish"], 6.0)

    def test_spread_leaves_out_mirrors_that_sent_nothing(self):
        quiet = [{"connection": 5, "time": 100.2, "request_time": 0.1, "bytes": 0}]
        mirrors = [FakeMirror([entry(1, 100.0, 102.0)]), FakeMirror([entry(1, 100.0, 102.7)]), FakeMirror(quiet)]

        class Run:
            pass

        run = Run()
        run.mirrors = mirror_figures(mirrors, [0, 0, 0], 100.0)
        self.assertIsNone(run.mirrors[2]["finish"])
        self.assertIsNone(run.mirrors[2]["busy"])
        self.assertAlmostEqual(finish_spread(run), 0.7)


class DelayLineTest(unittest.TestCase):
    def setUp(self):
        # 2 MB/s: the whole file would take 16 s.
        self.data = os.urandom(BIG)
        self.web = Nginx(files={"big.bin": self.data}, limit_rate="2m").start()
        self.port = free_port()
        self.relay = subprocess.Popen([sys.executable, RELAY, "--listen", f"127.0.0.1:{self.port}", "--target",
                                       f"127.0.0.1:{self.web.port}", "--delay-ms", "40"], stdout=subprocess.PIPE,
                                      stdin=subprocess.DEVNULL)
        self.assertEqual(self.relay.stdout.readline().strip(), b"ready")

    def tearDown(self):
        end_process(self.relay)
        self.relay.stdout.close()
        self.web.cleanup()

    def get(self, path, read):
        """Asks for `path` through the delay line and reads `read` bytes of the answer."""
        s = socket.create_connection(("127.0.0.1", self.port), timeout=30)
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: localhost\r\n\r\n".encode())
        data = b""
        while len(data) < read:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
        return s, data

    def test_answers_arrive_whole_and_in_order_through_the_line(self):
        part = b"GET /big.bin HTTP/1.1\r\nHost: localhost\r\nRange: bytes=%d-%d\r\n\r\n"
        with socket.create_connection(("127.0.0.1", self.port), timeout=30) as s:
            # Two ranges on the same kept-alive connection, the second asked before the
            # first has arrived.
            s.sendall(part % (0, 299999) + part % (BIG - 200000, BIG - 1))
            data = b""
            while len(bodies_of(data)) < 2 or len(bodies_of(data)[1]) < 200000:
                chunk = s.recv(1 << 20)
                if not chunk:
                    break
                data += chunk
        bodies = bodies_of(data)
        self.assertEqual([len(b) for b in bodies], [300000, 200000])
        self.assertEqual(bodies[0], self.data[:300000])
        self.assertEqual(bodies[1], self.data[BIG - 200000:])

    def test_a_client_that_goes_away_stops_the_mirror(self):
        s, data = self.get("/big.bin", 256 * 1024)
        self.assertGreaterEqual(len(data), 256 * 1024)
        # Closing with unread bytes resets the connection, as a cancelled transfer does; the
        # line passes the end on.
        s.close()
        deadline = time.monotonic() + 30
        while not self.web.entries() and time.monotonic() < deadline:
            time.sleep(0.1)
        entries = self.web.entries()
        self.assertEqual(len(entries), 1, "the mirror did not end the request within 30 s")
        logged = entries[0]
        # The mirror stopped soon after: far from the whole file, and long before it
        # would have sent it at its rate.
        self.assertLess(logged["bytes"], BIG // 4)
        self.assertLess(logged["request_time"], 8)


if __name__ == "__main__":
    unittest.main()
