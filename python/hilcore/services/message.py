# SPDX-License-Identifier: Apache-2.0
"""The Message service: what targets report (sessions, resets, a firmware's UART lines)."""

from __future__ import annotations

import collections
import re
import threading
import time
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Iterator

from ..errors import ConnectionLost, ExpectTimeout
from .base import Service

if TYPE_CHECKING:
    from ..client import Client, Event


@dataclass(frozen=True)
class TargetMessage:
    """One message: the message context's id, the source it names and the text."""

    context: str
    source: str
    text: str

    def __str__(self) -> str:
        return f"[{self.source}] {self.text}"


class MessageLog:
    """The messages of one message context, of those below a context (a tool's id), or of all
    (None), from the moment the log was made.

    It keeps the last ``keep`` messages. ``expect`` and iteration read from a cursor: each
    message is matched or given once. Close the log when done (or use it in a ``with``).
    """

    def __init__(self, client: Client, context: str | None = None, keep: int = 1000) -> None:
        self.context = context
        self._messages: collections.deque[TargetMessage] = collections.deque(maxlen=keep)
        self._count = 0  # messages received in all
        self._cursor = 0  # the number of the first message not yet matched or given
        self._ready = threading.Condition()
        self._lost: ConnectionLost | None = None
        self._subscription = client.subscribe("Message", self._put, "message", on_lost=self._on_lost)

    def _put(self, event: Event) -> None:
        if len(event.args) < 3 or not self._mine(str(event.args[0])):
            return
        message = TargetMessage(*(str(arg) for arg in event.args[:3]))
        with self._ready:
            self._messages.append(message)
            self._count += 1
            self._ready.notify_all()

    def _mine(self, context: str) -> bool:
        return self.context is None or context == self.context or context.startswith(self.context + ".")

    def _on_lost(self, error: ConnectionLost) -> None:
        with self._ready:
            self._lost = error
            self._ready.notify_all()

    def _take(self, deadline: float) -> TargetMessage | None:
        """The message at the cursor, waiting until ``deadline``; moves the cursor past it."""
        with self._ready:
            while self._cursor >= self._count:
                left = deadline - time.monotonic()
                if self._lost is not None:
                    raise ConnectionLost(str(self._lost))
                if left <= 0:
                    return None
                self._ready.wait(left)
            first = self._count - len(self._messages)
            self._cursor = max(self._cursor, first)
            message = self._messages[self._cursor - first]
            self._cursor += 1
            return message

    def expect(self, pattern: str | re.Pattern[str], timeout: float = 10.0) -> re.Match[str]:
        """The match of the first message after the cursor whose text ``pattern`` (a regular
        expression) is found in; waits up to ``timeout`` seconds. Raises ExpectTimeout naming the
        pattern and the last lines seen, ConnectionLost when the connection goes first."""
        compiled = re.compile(pattern)
        deadline = time.monotonic() + timeout
        while (message := self._take(deadline)) is not None:
            if match := compiled.search(message.text):
                return match
        raise ExpectTimeout(compiled.pattern, timeout, self.last(10))

    def messages(self, timeout: float = 1.0) -> Iterator[TargetMessage]:
        """The messages after the cursor, waiting up to ``timeout`` seconds for each next one;
        ends when none came in that time."""
        while (message := self._take(time.monotonic() + timeout)) is not None:
            yield message

    def __iter__(self) -> Iterator[TargetMessage]:
        """``messages()`` with its default wait of one second."""
        return self.messages()

    def last(self, count: int = 20) -> list[str]:
        """The last ``count`` messages kept, as "[SOURCE] TEXT" lines."""
        with self._ready:
            return [str(m) for m in list(self._messages)[-count:]]

    @property
    def lines(self) -> list[str]:
        """The texts of every message kept."""
        with self._ready:
            return [m.text for m in self._messages]

    def skip(self) -> None:
        """Moves the cursor past every message received so far."""
        with self._ready:
            self._cursor = self._count

    def close(self) -> None:
        """Stops collecting messages."""
        self._subscription.close()

    def __enter__(self) -> MessageLog:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


class Message(Service):
    """Message contexts: each reports what its target does."""

    name = "Message"

    def set_properties(self, context_id: str, properties: dict[str, Any], *, timeout: float | None = None) -> None:
        """Sets {"ContextName": text}, {"ReportingActive": bool} or {"SeverityThreshold": int}."""
        self._call("setProperties", context_id, properties, timeout=timeout)

    def log(self, context_id: str | None = None, keep: int = 1000) -> MessageLog:
        """A log of the messages of ``context_id`` and the contexts below it (a tool's id takes
        those of its device), of all contexts when None, from now on."""
        return MessageLog(self.client, context_id, keep)
