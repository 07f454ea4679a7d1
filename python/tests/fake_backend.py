# SPDX-License-Identifier: Apache-2.0
"""A scripted TCF peer on a loopback port: it says Hello, hands each command it reads to the
test and sends whatever bytes the test tells it to."""

from __future__ import annotations

import queue
import socket
import threading

from hilcore import wire


class FakeBackend:
    """Listens on a free port of 127.0.0.1 and serves one client. ``commands`` gets each
    command as (token, service, name, [argument texts])."""

    def __init__(self, hello: bool = True) -> None:
        self._listener = socket.create_server(("127.0.0.1", 0))
        self.port = self._listener.getsockname()[1]
        self.commands: queue.Queue[tuple[str, str, str, list[str]]] = queue.Queue()
        self.connection: socket.socket | None = None
        self._hello = hello
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self) -> None:
        try:
            self.connection, _ = self._listener.accept()
            self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            if self._hello:
                self.send_message(wire.EVENT, [b"Locator", b"Hello", b'["Locator","Test"]'])
            decoder = wire.Decoder()
            while data := self.connection.recv(65536):
                for message in decoder.feed(data):
                    if message.kind == wire.COMMAND:
                        token, service, name, *args = (field.decode() for field in message.fields)
                        self.commands.put((token, service, name, args))
        except OSError:
            pass

    def next_command(self, timeout: float = 5.0) -> tuple[str, str, str, list[str]]:
        """The next command the client sent; raises queue.Empty after ``timeout`` seconds."""
        return self.commands.get(timeout=timeout)

    def send(self, data: bytes) -> None:
        """Sends raw bytes."""
        assert self.connection is not None
        self.connection.sendall(data)

    def send_message(self, kind: str, fields: list[bytes]) -> None:
        """Sends one framed message."""
        self.send(wire.encode(kind, fields))

    def reply(self, token: str, *values: bytes) -> None:
        """Sends the reply to ``token`` with ``values`` (JSON texts as bytes)."""
        self.send_message(wire.REPLY, [token.encode(), *values])

    def event(self, service: str, name: str, *args: bytes) -> None:
        """Sends an event."""
        self.send_message(wire.EVENT, [service.encode(), name.encode(), *args])

    def close(self) -> None:
        """Drops the connection and stops listening."""
        for sock in (self.connection, self._listener):
            if sock is not None:
                try:
                    sock.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                sock.close()
