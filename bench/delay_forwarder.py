#!/usr/bin/env python3
"""A TCP forwarder that adds round-trip latency: every chunk waits RTT/2 in each direction.

    delay_forwarder.py --listen ADDR:PORT [--listen ADDR:PORT ...] --to HOST --rtt-ms MS

Each --listen port forwards to the same port on HOST (445 -> HOST:445). Per connection and
direction a reader stamps each chunk with "now + RTT/2" and queues it; a writer sends the
chunks in order, each no earlier than its stamp. Chunks in flight overlap, so the delay adds
latency without capping throughput (unlike sleeping before every forwarded chunk). End of
stream (FIN) is delayed like data. Nagle is off on both legs so small requests are not held.

Runs until SIGTERM/SIGINT. Prints "ready" on stdout once listening. With --stats it also
reads the SMB framing of what clients send and, on exit, prints one JSON line: connections,
requests per SMB2 command, frames (one per request or compound chain) and chunks (socket
reads; a chunk may hold several frames sent back to back). Requests per folder, for a walk
over a known number of folders, show how many round trips a listing costs.
"""
import argparse
import asyncio
import collections
import json
import signal
import socket
import sys

CHUNK = 256 * 1024

SMB2_COMMANDS = [
    "NEGOTIATE", "SESSION_SETUP", "LOGOFF", "TREE_CONNECT", "TREE_DISCONNECT", "CREATE", "CLOSE",
    "FLUSH", "READ", "WRITE", "LOCK", "IOCTL", "CANCEL", "ECHO", "QUERY_DIRECTORY",
    "CHANGE_NOTIFY", "QUERY_INFO", "SET_INFO", "OPLOCK_BREAK",
]


class Stats:
    """What clients asked for, read from the NetBIOS session framing of their streams."""

    def __init__(self):
        self.connections = 0
        self.chunks = 0
        self.frames = 0
        self.commands = collections.Counter()

    def counter(self):
        buffer = bytearray()

        def feed(data):
            self.chunks += 1
            buffer.extend(data)
            while len(buffer) >= 4:
                length = int.from_bytes(buffer[1:4], "big")
                if len(buffer) < 4 + length:
                    return
                self.count_frame(bytes(buffer[4:4 + length]))
                del buffer[:4 + length]
        return feed

    def count_frame(self, msg):
        self.frames += 1
        if msg[:4] == b"\xffSMB" and len(msg) > 4:
            self.commands[f"SMB1_0x{msg[4]:02x}"] += 1
            return
        offset = 0
        while msg[offset:offset + 4] == b"\xfeSMB" and len(msg) >= offset + 24:
            command = int.from_bytes(msg[offset + 12:offset + 14], "little")
            name = SMB2_COMMANDS[command] if command < len(SMB2_COMMANDS) else f"0x{command:04x}"
            self.commands[name] += 1
            following = int.from_bytes(msg[offset + 20:offset + 24], "little")
            if following == 0:
                break
            offset += following

    def dump(self):
        return json.dumps({"connections": self.connections, "chunks": self.chunks,
                           "frames": self.frames, "requests": dict(self.commands.most_common())})


def nodelay(writer):
    sock = writer.get_extra_info("socket")
    if sock is not None:
        try:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        except OSError:
            pass


async def delayed_pipe(reader, writer, delay, observe=None):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def receive():
        try:
            while True:
                data = await reader.read(CHUNK)
                if observe is not None and data:
                    observe(data)
                queue.put_nowait((loop.time() + delay, data))
                if not data:
                    return
        except (ConnectionError, OSError):
            queue.put_nowait((loop.time() + delay, b""))

    async def send():
        try:
            while True:
                due, data = await queue.get()
                wait = due - loop.time()
                if wait > 0:
                    await asyncio.sleep(wait)
                if not data:
                    if writer.can_write_eof():
                        writer.write_eof()
                    return
                writer.write(data)
                await writer.drain()
        except (ConnectionError, OSError):
            pass

    receiver = asyncio.ensure_future(receive())
    try:
        await send()
    finally:
        receiver.cancel()


async def handle(client_reader, client_writer, host, port, delay, stats):
    nodelay(client_writer)
    try:
        server_reader, server_writer = await asyncio.open_connection(host, port)
    except OSError:
        client_writer.close()
        return
    nodelay(server_writer)
    observe = None
    if stats is not None:
        stats.connections += 1
        observe = stats.counter()
    try:
        await asyncio.gather(
            delayed_pipe(client_reader, server_writer, delay, observe),
            delayed_pipe(server_reader, client_writer, delay),
        )
    finally:
        for w in (client_writer, server_writer):
            try:
                w.close()
            except Exception:
                pass


async def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--listen", action="append", required=True, help="ADDR:PORT")
    ap.add_argument("--to", required=True, help="address of the real server")
    ap.add_argument("--rtt-ms", type=float, required=True)
    ap.add_argument("--stats", action="store_true", help="count SMB requests, print them on exit")
    args = ap.parse_args()
    delay = args.rtt_ms / 2000.0
    stats = Stats() if args.stats else None

    servers = []
    for address in args.listen:
        addr, _, port = address.rpartition(":")
        port = int(port)

        async def on_connect(r, w, port=port):
            try:
                await handle(r, w, args.to, port, delay, stats)
            except asyncio.CancelledError:
                pass  # shutting down with connections open

        servers.append(await asyncio.start_server(on_connect, addr, port, reuse_address=True,
                                                  backlog=256))
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    print("ready", flush=True)
    await stop.wait()
    for s in servers:
        s.close()
    if stats is not None:
        print(stats.dump(), flush=True)


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(130)
