#!/usr/bin/env python3
"""Measures the SMB round trip to a host: the time one SMB2 ECHO takes to come back.

    rtt_probe.py HOST [--port 445] [--count 7]

Opens one TCP connection, negotiates SMB2 (not timed: the server starts a process for the
connection first), then sends --count ECHO requests one after the other and times each: one
request/response exchange apiece, with next to nothing to do on the server. Prints the median
and the range in milliseconds: "median_ms=.. min_ms=.. max_ms=..".
"""
import argparse
import os
import socket
import statistics
import struct
import sys
import time


NEGOTIATE, ECHO = 0x0000, 0x000D


def smb2_message(command, message_id, body):
    header = struct.pack(
        "<4sHHIHHIIQIIQ16s",
        b"\xfeSMB", 64, 0, 0,        # protocol, structure size, credit charge, status
        command, 8, 0, 0,            # command, credits requested, flags, next command
        message_id, 0, 0, 0,         # message id, reserved, tree id, session id
        b"\0" * 16,                  # signature
    )
    message = header + body
    return struct.pack(">I", len(message)) + message


def negotiate_request():
    dialects = [0x0202, 0x0210]
    body = struct.pack("<HHHHI16sQ", 36, len(dialects), 1, 0, 0, os.urandom(16), 0)
    body += b"".join(struct.pack("<H", d) for d in dialects)
    return smb2_message(NEGOTIATE, 0, body)


def echo_request(message_id):
    return smb2_message(ECHO, message_id, struct.pack("<HH", 4, 0))


def receive_exactly(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise ConnectionError("connection closed early")
        data += chunk
    return data


def exchange(sock, request, command):
    start = time.monotonic()
    sock.sendall(request)
    length = struct.unpack(">I", receive_exactly(sock, 4))[0] & 0xFFFFFF
    reply = receive_exactly(sock, length)
    elapsed = time.monotonic() - start
    if reply[:4] != b"\xfeSMB" or struct.unpack_from("<H", reply, 12)[0] != command:
        raise ValueError("unexpected reply")
    status = struct.unpack_from("<I", reply, 8)[0]
    if status != 0:
        raise ValueError(f"status 0x{status:08x}")
    return elapsed * 1000.0


def probe(host, port, count):
    with socket.create_connection((host, port), timeout=10) as sock:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        exchange(sock, negotiate_request(), NEGOTIATE)
        return [exchange(sock, echo_request(i), ECHO) for i in range(1, count + 1)]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("host")
    ap.add_argument("--port", type=int, default=445)
    ap.add_argument("--count", type=int, default=7)
    args = ap.parse_args()
    try:
        times = probe(args.host, args.port, args.count)
    except (OSError, ValueError) as e:
        print(f"rtt_probe: {args.host}:{args.port}: {e}", file=sys.stderr)
        sys.exit(1)
    print(f"median_ms={statistics.median(times):.2f} min_ms={min(times):.2f} max_ms={max(times):.2f}")


if __name__ == "__main__":
    main()
