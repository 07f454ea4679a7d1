# SPDX-License-Identifier: Apache-2.0
"""A TCF client: one connection to a back-end, commands matched to their replies, events.

A thread of the client reads the socket. It hands each reply to the call that waits for it, each
progress report to that call's callback, and each event, in the order they came, to the
subscribers of its service. Every call has a time-out, and when the connection goes, every call
and every event waiter raises ConnectionLost once.
"""

from __future__ import annotations

import collections
import itertools
import json
import os
import select
import socket
import struct
import threading
import time
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Callable, Iterator

from . import wire
from .errors import CallTimeout, ConnectError, ConnectionLost, HilError, NotRecognised, ProtocolError

if TYPE_CHECKING:
    from .services import (Breakpoints, Device, Memory, Message, Packs, Registers, RunControl, StackTrace, Stimuli,
                           Tool)

DEFAULT_PORT = 1534
_dumps = json.JSONEncoder(separators=(",", ":"), allow_nan=False).encode


@dataclass(frozen=True, slots=True)
class Event:
    """One event: its service, its name and its arguments as Python values."""

    service: str
    name: str
    args: list[Any]


def decode_value(field: bytes) -> Any:
    """A reply value or event argument as a Python value: an empty field is None, the bare word
    NaN a float NaN, anything else its JSON. Raises ValueError for a field that is no JSON."""
    return json.loads(field) if field else None


class _Pending:
    """A command waiting for its reply; changed under the client's lock."""

    __slots__ = ("command", "done", "fields", "error", "progress", "progress_error")

    def __init__(self, command: str, progress: Callable[[list[Any]], None] | None) -> None:
        self.command = command
        self.done = False
        self.fields: list[bytes] | None = None
        self.error: HilError | None = None
        self.progress = progress
        self.progress_error: BaseException | None = None


class Subscription:
    """Events of one service (and one event name, or all) delivered to a callback on the
    client's reader thread, in the order they came. ``close()`` ends the delivery."""

    def __init__(self, client: Client, service: str, name: str | None, callback: Callable[[Event], None],
                 on_lost: Callable[[ConnectionLost], None] | None = None) -> None:
        self.client, self.service, self.name, self.callback = client, service, name, callback
        self.on_lost = on_lost

    def lost(self, error: ConnectionLost) -> None:
        """Called once when the connection goes: passes it to ``on_lost``."""
        if self.on_lost is not None:
            self.on_lost(error)

    def close(self) -> None:
        """Stops the delivery; safe to call twice."""
        self.client._unsubscribe(self)

    def __enter__(self) -> Subscription:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


class EventQueue(Subscription):
    """Events kept until a waiting helper takes them: ``get`` and ``wait_for`` block up to their
    time-out, and raise ConnectionLost when the connection goes while they wait."""

    def __init__(self, client: Client, service: str, name: str | None) -> None:
        super().__init__(client, service, name, self._put)
        self._events: collections.deque[Event] = collections.deque()
        self._ready = threading.Condition()
        self._lost: ConnectionLost | None = None

    def _put(self, event: Event) -> None:
        with self._ready:
            self._events.append(event)
            self._ready.notify_all()

    def lost(self, error: ConnectionLost) -> None:
        with self._ready:
            self._lost = error
            self._ready.notify_all()

    def get(self, timeout: float) -> Event | None:
        """The next event, waiting up to ``timeout`` seconds; None when none came. Raises
        ConnectionLost when the connection went and no event is left."""
        return self.wait_for(lambda event: True, timeout)

    def wait_for(self, predicate: Callable[[Event], bool], timeout: float) -> Event | None:
        """The first event for which ``predicate`` is true, dropping those before it; waits up
        to ``timeout`` seconds and gives None when none came. Raises ConnectionLost when the
        connection went before one came."""
        deadline = time.monotonic() + timeout
        with self._ready:
            while True:
                while self._events:
                    event = self._events.popleft()
                    if predicate(event):
                        return event
                if self._lost is not None:
                    raise ConnectionLost(str(self._lost))
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self._ready.wait(left)

    def __iter__(self) -> Iterator[Event]:
        """The events kept so far, without waiting."""
        while True:
            with self._ready:
                if not self._events:
                    return
                event = self._events.popleft()
            yield event


class Client:
    """A connection to a back-end. Services are attributes: ``tool``, ``device``, ``memory``,
    ``registers``, ``stimuli``, ``message``, ``packs``, ``run_control``, ``breakpoints``,
    ``stack_trace``.

    ``timeout`` (seconds) is every call's default time-out. Raises ConnectError when the
    back-end cannot be reached or sends no Hello within ``connect_timeout`` seconds.

    Whoever waits reads: a call reads the socket itself while no other thread does, so that a
    reply needs no hand-over between threads; the reader thread reads while no call waits (and
    some milliseconds after the last), so that events come without calls too.
    """

    tool: Tool
    device: Device
    memory: Memory
    registers: Registers
    stimuli: Stimuli
    message: Message
    packs: Packs
    run_control: RunControl
    breakpoints: Breakpoints
    stack_trace: StackTrace

    _IDLE_AFTER = 0.02  # seconds after the last call before the reader thread reads again
    _READ_SLICE = 0.5  # seconds a read may block before the reader looks at its time-out again

    def __init__(self, host: str = "127.0.0.1", port: int = DEFAULT_PORT, *, timeout: float = 10.0,
                 connect_timeout: float = 5.0) -> None:
        from .services import attach_services

        self.address = (host, port)
        self.timeout = timeout
        self.services: list[str] = []
        self._tokens = itertools.count(1)
        self._pending: dict[bytes, _Pending] = {}
        self._send_lock = threading.Lock()
        self._subscriptions: dict[str, list[Subscription]] = {}
        self._subscriptions_lock = threading.Lock()
        self._lost: ConnectionLost | None = None
        self._stopped = threading.Event()
        self._decoder = wire.Decoder()
        # One buffer for every read: a fresh 1 MiB object per read costs more than the read.
        self._received = bytearray(1 << 20)
        self._received_view = memoryview(self._received)
        self._dispatching = 0  # the thread that runs event callbacks now
        # Who reads the socket: at most one thread at a time, changed under _turn.
        self._lock = threading.Lock()  # taken directly: a Condition's own "with" costs more
        self._turn = threading.Condition(self._lock)
        self._reading = False
        self._reader_reads = False
        self._reader_woken = False
        self._waiting = 0
        self._calls = 0
        self._last_call = 0.0
        self._wake_read, self._wake_write = os.pipe()
        try:
            self._socket = socket.create_connection(self.address, timeout=connect_timeout)
        except OSError as error:
            os.close(self._wake_read)
            os.close(self._wake_write)
            raise ConnectError(f"cannot reach the back-end at {host}:{port}: {error.strerror or error}") from None
        self._socket.settimeout(None)
        self._socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self._read_limit = 0.0
        self._limit_read(self._READ_SLICE)
        self._reader = threading.Thread(target=self._read, name=f"hilcore reader {host}:{port}", daemon=True)
        hello = self.events("Locator", "Hello")
        self._reader.start()
        try:
            self._send(wire.encode(wire.EVENT, [b"Locator", b"Hello", b"[]"]))
            event = hello.get(connect_timeout)
            if event is None:
                raise ConnectError(f"no Hello from {host}:{port} within {connect_timeout:g} s")
        except HilError as error:
            self.close()
            if isinstance(error, ConnectionLost):
                raise ConnectError(f"{host}:{port} closed the connection before its Hello: {error}") from None
            raise
        finally:
            hello.close()
        self.services = list(event.args[0]) if event.args and isinstance(event.args[0], list) else []
        attach_services(self)

    # -- calls -------------------------------------------------------------------------------

    def call(self, service: str, command: str, *args: Any, timeout: float | None = None,
             progress: Callable[[list[Any]], None] | None = None) -> list[Any]:
        """Sends a command with ``args`` (each a JSON value) and returns its reply's values.

        ``timeout`` in seconds (default: the client's); ``progress`` receives each progress
        report's values. Raises CallTimeout, ConnectionLost, NotRecognised (the back-end has no
        such service) or ProtocolError (a value that is no JSON). The error slots are the
        services' to read: this returns them as values (None for an empty slot).
        """
        return self.decode_values(self.call_raw(service, command, [_dumps(arg).encode() for arg in args],
                                                timeout=timeout, progress=progress), service, command)

    def call_raw(self, service: str, command: str, fields: list[bytes], *, timeout: float | None = None,
                 progress: Callable[[list[Any]], None] | None = None) -> list[bytes]:
        """The same as ``call`` with the arguments and the reply's values as the bytes of their
        JSON texts, for callers that carry them as they are."""
        if self._dispatching == threading.get_ident():
            raise HilError(f"{service} {command} called from an event callback would wait for itself: "
                           "hand the work to another thread")
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        token = str(next(self._tokens)).encode()
        pending = _Pending(f"{service} {command}", progress)
        with self._lock:
            if self._lost is not None:
                raise ConnectionLost(str(self._lost))
            self._pending[token] = pending
            self._calls += 1
        try:
            self._send(wire.encode(wire.COMMAND, [token, service.encode(), command.encode(), *fields]))
            self._await(pending, deadline)
        finally:
            with self._lock:
                self._calls -= 1
                self._pending.pop(token, None)
                self._last_call = time.monotonic()
        if pending.error is not None:
            raise pending.error
        if pending.progress_error is not None:
            raise pending.progress_error
        assert pending.fields is not None
        return pending.fields

    def sync(self, timeout: float | None = None) -> None:
        """Returns once the back-end answered every command sent before: the Locator's "sync".
        Raises as ``call`` does."""
        self.call_raw("Locator", "sync", [], timeout=timeout)

    def _await(self, pending: _Pending, deadline: float) -> None:
        """Waits for the reply of ``pending``: reads the socket while no other thread does."""
        with self._lock:
            while not pending.done:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise CallTimeout(f"{pending.command}: no reply within the time-out")
                if not self._reading:
                    self._reading = True
                    break
                if self._reader_reads and not self._reader_woken:
                    self._reader_woken = True
                    os.write(self._wake_write, b"w")
                self._waiting += 1
                self._turn.wait(left)
                self._waiting -= 1
            else:
                return
        try:
            while not pending.done:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise CallTimeout(f"{pending.command}: no reply within the time-out")
                self._limit_read(left)
                try:
                    received = self._socket.recv_into(self._received)
                except BlockingIOError:
                    continue  # the read's time limit: see whether the call's is over
                except OSError as error:
                    self._lose(f"the connection broke: {error}")
                    return
                self._consume(self._received_view[:received])
        finally:
            self._pass_turn()

    def _limit_read(self, seconds: float) -> None:
        """Lets a blocking read of the socket end after at most ``seconds`` (at most the read
        slice), so that a call's time-out is kept. A blocking socket with a receive time limit
        reads in one system call; Python's own time-outs poll before each read and write."""
        seconds = min(seconds, self._READ_SLICE)
        if seconds != self._read_limit:
            self._read_limit = seconds
            whole, micros = int(seconds), int(seconds % 1 * 1e6)
            micros = micros or (0 if whole else 1)  # zero would mean no limit at all
            self._socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVTIMEO, struct.pack("ll", whole, micros))

    def _pass_turn(self) -> None:
        with self._lock:
            self._reading = self._reader_reads = False
            if self._waiting:
                self._turn.notify_all()

    @staticmethod
    def decode_values(fields: list[bytes], service: str, command: str) -> list[Any]:
        """The values of a reply's fields (see ``decode_value``); raises ProtocolError naming
        the command for a field that is no JSON."""
        try:
            return [json.loads(field) if field else None for field in fields]
        except ValueError as error:
            raise ProtocolError(f"{service} {command}: a reply value that is no JSON ({error})") from None

    def _send(self, data: bytes) -> None:
        with self._send_lock:
            if self._lost is not None:
                raise ConnectionLost(str(self._lost))
            try:
                self._socket.sendall(data)
            except OSError as error:
                raise ConnectionLost(f"sending failed: {error}") from None

    # -- events ------------------------------------------------------------------------------

    def subscribe(self, service: str, callback: Callable[[Event], None], name: str | None = None,
                  on_lost: Callable[[ConnectionLost], None] | None = None) -> Subscription:
        """Calls ``callback`` with each event of ``service`` (of that ``name`` only, when given),
        in the order they came, on the thread that reads the socket at the time, and
        ``on_lost`` once when the connection goes. A callback must return quickly and make no
        call on this client (it would wait for itself; such a call raises HilError)."""
        return self._add(Subscription(self, service, name, callback, on_lost))

    def events(self, service: str, name: str | None = None) -> EventQueue:
        """A queue of the events of ``service`` (of ``name`` only, when given) from now on, for
        a thread to wait on. Close it when done."""
        queue = EventQueue(self, service, name)
        self._add(queue)
        return queue

    def _add(self, subscription: Subscription) -> Subscription:
        with self._subscriptions_lock:
            listeners = list(self._subscriptions.get(subscription.service, []))
            listeners.append(subscription)
            self._subscriptions[subscription.service] = listeners
        if self._lost is not None:
            subscription.lost(self._lost)
        return subscription

    def _unsubscribe(self, subscription: Subscription) -> None:
        with self._subscriptions_lock:
            listeners = [s for s in self._subscriptions.get(subscription.service, []) if s is not subscription]
            self._subscriptions[subscription.service] = listeners

    def _deliver(self, fields: list[bytes]) -> None:
        listeners = self._subscriptions.get(fields[0].decode())
        if not listeners:
            return
        name = fields[1].decode()
        try:
            event = Event(fields[0].decode(), name, [decode_value(field) for field in fields[2:]])
        except ValueError:
            return  # an event no subscriber could read
        self._dispatching = threading.get_ident()
        try:
            for listener in listeners:
                if listener.name is None or listener.name == name:
                    listener.callback(event)
        finally:
            self._dispatching = 0

    # -- reading -----------------------------------------------------------------------------

    def _consume(self, data: bytes | memoryview) -> None:
        """Dispatches what ``data`` completes; an empty ``data`` is the end of the stream."""
        if not data:
            self._lose("the back-end closed the connection")
            return
        try:
            for message in self._decoder.feed(data):
                self._dispatch(message)
        except wire.FramingError as error:
            self._lose(f"the back-end sent bytes that are no TCF message: {error}")
        except Exception as error:  # a callback raised: the events after it would be lost
            self._lose(f"an event callback raised {error!r}")
        if self._decoder.ended:
            self._lose("the back-end ended the stream")

    def _read(self) -> None:
        """The reader thread: reads while no call waits, so that events come without calls."""
        while self._lost is None:
            with self._lock:
                idle = not (self._reading or self._calls) and time.monotonic() - self._last_call >= self._IDLE_AFTER
                if idle:
                    self._reading = self._reader_reads = True
                    self._reader_woken = False
            if not idle:
                self._stopped.wait(self._IDLE_AFTER)
                continue
            try:
                ready, _, _ = select.select([self._socket, self._wake_read], [], [])
                if self._wake_read in ready:
                    os.read(self._wake_read, 64)
                if self._socket in ready:
                    self._limit_read(self._READ_SLICE)
                    self._consume(self._received_view[:self._socket.recv_into(self._received)])
            except (OSError, ValueError) as error:
                self._lose(f"the connection broke: {error}")
            finally:
                self._pass_turn()

    def _dispatch(self, message: wire.Message) -> None:
        kind, fields = message.kind, message.fields
        if kind == wire.REPLY or kind == wire.NOT_RECOGNISED:
            with self._lock:
                pending = self._pending.pop(fields[0], None)
                if pending is None:
                    return  # its call timed out
                if kind == wire.REPLY:
                    pending.fields = fields[1:]
                else:
                    pending.error = NotRecognised(f"{pending.command}: the back-end does not offer this service")
                pending.done = True
                if self._waiting:
                    self._turn.notify_all()
        elif kind == wire.EVENT:
            self._deliver(fields)
        elif kind == wire.PROGRESS:
            pending = self._pending.get(fields[0])
            if pending is not None and pending.progress is not None and pending.progress_error is None:
                try:
                    pending.progress(self.decode_values(fields[1:], *pending.command.split(" ", 1)))
                except Exception as error:  # raised from the call, once its reply is in
                    pending.progress_error = error
        # Commands to us (we offer no service) and flow control need no answer.

    def _lose(self, reason: str) -> None:
        error = ConnectionLost(f"connection to {self.address[0]}:{self.address[1]} lost: {reason}")
        with self._lock:
            if self._lost is not None:
                return
            self._lost = error
            pending, self._pending = list(self._pending.values()), {}
            for call in pending:
                call.error = ConnectionLost(str(error))
                call.done = True
            self._turn.notify_all()
        self._stopped.set()
        with self._subscriptions_lock:
            listeners = [s for group in self._subscriptions.values() for s in group]
        for listener in listeners:
            listener.lost(error)

    # -- closing -----------------------------------------------------------------------------

    @property
    def connected(self) -> bool:
        """False once the connection closed or broke."""
        return self._lost is None

    def close(self) -> None:
        """Closes the connection; waiting calls raise ConnectionLost. The back-end tears down
        the tools this client set up. Safe to call twice."""
        self._lose("closed by this client")
        try:
            self._socket.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        if self._reader.is_alive() and self._reader is not threading.current_thread():
            self._reader.join(5)
        if self._wake_write >= 0:
            self._socket.close()
            os.close(self._wake_read)
            os.close(self._wake_write)
            self._wake_read = self._wake_write = -1

    def __enter__(self) -> Client:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


def connect(host: str = "127.0.0.1", port: int = DEFAULT_PORT, **options: Any) -> Client:
    """A connected Client; ``options`` as Client takes them."""
    return Client(host, port, **options)
