#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Round trips per second through the hilcore Python package against a plain socket client.

    PYTHONPATH=python python3 bench/python/client_bench.py [--backend PATH] [--rounds 5] [--seconds 1]

Starts the back-end ($HIL_BACKEND, or --backend) on a free port and sets up the simulator on
DEMO32. Two workloads: the Locator's "sync", and "Memory" "get" of 64 KiB (its whole SRAM). Each
is run by the package (Client.sync, Memory.read: encoding, framing, matching the reply, decoding
its JSON and Base64) and by a plain client that writes pre-framed commands and finds the end of
each reply, decoding nothing. Both run in this process, one reply awaited before the next
command, interleaved (package, plain, package, plain, ...) in rounds of --seconds a side; the
table gives each side's median rate with the range of the rounds and the median of the rounds'
ratios. Goal: the package at >= 0.8 of the plain client.
"""

from __future__ import annotations

import argparse
import binascii
import os
import socket
import statistics
import sys
import time
from pathlib import Path
from typing import Callable

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "python"))

import hilcore  # noqa: E402
from hilcore import wire  # noqa: E402

SRAM, READ_SIZE = 0x20000000, 64 * 1024


class PlainClient:
    """Frames bytes and nothing more: writes a command's bytes, reads until the end marker."""

    def __init__(self, port: int) -> None:
        self.socket = socket.create_connection(("127.0.0.1", port))
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buffer = bytearray()
        self.received = bytearray(1 << 20)  # read into one buffer: a fresh large object per read costs more
        self.view = memoryview(self.received)
        self.socket.sendall(wire.encode(wire.EVENT, [b"Locator", b"Hello", b"[]"]))
        self.round_trip(b"")  # the back-end's Hello

    def round_trip(self, command: bytes, decode: bool = False) -> int:
        """Sends ``command`` (may be empty) and returns the length of the next message; with
        ``decode``, decodes the Base64 of its first string value, as any client that gives the
        bytes must."""
        if command:
            self.socket.sendall(command)
        scanned = 0
        while (end := self.buffer.find(wire.END_OF_MESSAGE, scanned)) < 0:
            scanned = max(0, len(self.buffer) - 1)
            count = self.socket.recv_into(self.received)
            if not count:
                raise ConnectionError("the back-end closed the connection")
            self.buffer += self.view[:count]
        if decode:
            first = self.buffer.index(b'"') + 1
            with memoryview(self.buffer) as message:
                binascii.a2b_base64(message[first:self.buffer.index(b'"', first)])
        if end + 2 == len(self.buffer):
            self.buffer.clear()  # frees a large message's room at once
        else:
            del self.buffer[:end + 2]
        return end


def rate(work: Callable[[], object], seconds: float) -> float:
    """Calls of ``work`` per second over ``seconds``."""
    count, started = 0, time.perf_counter()
    deadline = started + seconds
    while time.perf_counter() < deadline:
        for _ in range(20):
            work()
        count += 20
    return count / (time.perf_counter() - started)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--backend", default=os.environ.get("HIL_BACKEND"), help="the back-end executable")
    parser.add_argument("--bundles", default=os.environ.get("HIL_BUNDLE_DIR"), help="its bundle folder")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=1.0)
    options = parser.parse_args()
    with hilcore.Backend(options.backend, bundles=options.bundles) as backend, backend.connect() as client, \
            hilcore.Target.simulator(client, "DEMO32") as target:
        target.write(SRAM, bytes(range(256)) * (READ_SIZE // 256))
        plain = PlainClient(backend.port)
        tokens = iter(range(1, 1 << 62))
        memory = target.memory_id
        get = f'"{memory}"\0{SRAM}\0{1}\0{READ_SIZE}\0{0}'.encode().split(b"\0")

        def plain_sync() -> None:
            plain.round_trip(wire.encode(wire.COMMAND, [str(next(tokens)).encode(), b"Locator", b"sync"]))

        def plain_read() -> None:
            plain.round_trip(wire.encode(wire.COMMAND, [str(next(tokens)).encode(), b"Memory", b"get", *get]))

        def plain_read_decoded() -> None:
            plain.round_trip(wire.encode(wire.COMMAND, [str(next(tokens)).encode(), b"Memory", b"get", *get]), True)

        def package_read() -> None:
            client.memory.read(memory, SRAM, READ_SIZE)
        assert len(client.memory.read(memory, SRAM, READ_SIZE)) == READ_SIZE
        workloads = {'"Locator" "sync"': (client.sync, plain_sync),
                     '64 KiB "Memory" "get"': (package_read, plain_read),
                     '64 KiB "Memory" "get", the plain client decoding the Base64': (package_read,
                                                                                    plain_read_decoded)}
        results: dict[str, list[tuple[float, float]]] = {name: [] for name in workloads}
        for _ in range(options.rounds):
            for name, (package, bare) in workloads.items():
                results[name].append((rate(package, options.seconds), rate(bare, options.seconds)))
        plain.socket.close()
    print(f"{options.rounds} rounds of {options.seconds:g} s a side\n")
    print("| workload | package round trips/s | plain client round trips/s | ratio (goal >= 0.8) |")
    print("|---|---|---|---|")
    for name, rounds in results.items():
        ours, theirs = [r[0] for r in rounds], [r[1] for r in rounds]
        ratios = [a / b for a, b in rounds]
        print(f"| {name} | {statistics.median(ours):,.0f} ({min(ours):,.0f} - {max(ours):,.0f}) "
              f"| {statistics.median(theirs):,.0f} ({min(theirs):,.0f} - {max(theirs):,.0f}) "
              f"| {statistics.median(ratios):.2f} ({min(ratios):.2f} - {max(ratios):.2f}) |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
