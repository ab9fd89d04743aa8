#!/usr/bin/env python3
"""A delay line for TCP on loopback: listens on one address, forwards every connection to
a target address, and holds every chunk back by --delay-ms in each direction, so that a
mirror next door looks as far away as a round trip of twice that. The connection's own
set-up costs one round trip too. Nothing is dropped or reordered; a connection that would
queue more than --max-queue bytes in one direction stops reading until it drains, as a
real path's window would.

Run as a program it prints "ready" once listening and serves until it is ended by its
process id. The benchmark starts one per mirror.
"""
import argparse
import asyncio
import collections
import os
import signal
import socket
import time


class DelayedPipe:
    """One direction of one connection: chunks read from `reader` are written to `writer`
    `delay` seconds after they arrived."""

    def __init__(self, reader, writer, delay, max_queue):
        self.reader, self.writer, self.delay, self.max_queue = reader, writer, delay, max_queue
        self.queue = collections.deque()
        self.queued = 0
        self.more = asyncio.Event()
        self.room = asyncio.Event()
        self.room.set()
        self.ended = False

    async def pump_in(self):
        try:
            while True:
                await self.room.wait()
                data = await self.reader.read(256 * 1024)
                if not data:
                    break
                self.queue.append((time.monotonic() + self.delay, data))
                self.queued += len(data)
                if self.queued > self.max_queue:
                    self.room.clear()
                self.more.set()
        except (ConnectionError, OSError):
            pass
        self.ended = True
        self.more.set()

    async def pump_out(self):
        try:
            while True:
                if not self.queue:
                    if self.ended:
                        break
                    self.more.clear()
                    await self.more.wait()
                    continue
                due, data = self.queue[0]
                wait = due - time.monotonic()
                if wait > 0:
                    await asyncio.sleep(wait)
                self.queue.popleft()
                self.queued -= len(data)
                if self.queued <= self.max_queue:
                    self.room.set()
                self.writer.write(data)
                await self.writer.drain()
            if self.writer.can_write_eof():
                self.writer.write_eof()
        except (ConnectionError, OSError):
            pass


async def relay(client_reader, client_writer, target, delay, max_queue):
    try:
        # The handshake's round trip: a far server is reached one round trip later.
        await asyncio.sleep(2 * delay)
        server_reader, server_writer = await asyncio.open_connection(*target)
    except OSError:
        client_writer.close()
        return
    for w in (client_writer, server_writer):
        w.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    up = DelayedPipe(client_reader, server_writer, delay, max_queue)
    down = DelayedPipe(server_reader, client_writer, delay, max_queue)
    await asyncio.gather(up.pump_in(), up.pump_out(), down.pump_in(), down.pump_out())
    for w in (client_writer, server_writer):
        w.close()


async def serve(listen, target, delay, max_queue):
    server = await asyncio.start_server(lambda r, w: relay(r, w, target, delay, max_queue), *listen,
                                        reuse_address=True, backlog=256)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--listen", required=True, help="ADDRESS:PORT to accept on (127.0.0.0/8)")
    parser.add_argument("--target", required=True, help="ADDRESS:PORT to forward to")
    parser.add_argument("--delay-ms", type=float, required=True, help="one-way delay (half the round trip)")
    parser.add_argument("--max-queue", type=int, default=8 * 1024 * 1024)
    args = parser.parse_args()
    # Ended by its process id: go at once, without asyncio's complaints about open relays.
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    listen = args.listen.rsplit(":", 1)
    target = args.target.rsplit(":", 1)
    asyncio.run(serve((listen[0], int(listen[1])), (target[0], int(target[1])), args.delay_ms / 1000.0,
                      args.max_queue))


if __name__ == "__main__":
    main()
