# SPDX-License-Identifier: Apache-2.0
"""What every service class shares: calls whose error slot raises, contexts and events."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Callable, ClassVar

from ..errors import ProtocolError, TcfError

if TYPE_CHECKING:
    from ..client import Client, Event, EventQueue, Subscription


class Service:
    """One TCF service of a back-end. Every call takes ``timeout`` in seconds (default: the
    client's) and raises TcfError when the back-end reports an error, besides what
    ``Client.call`` raises."""

    name: ClassVar[str]

    def __init__(self, client: Client) -> None:
        self.client = client

    def _call(self, command: str, *args: Any, error: int | None = 0, values: int = 0,
              timeout: float | None = None, progress: Callable[[list[Any]], None] | None = None) -> list[Any]:
        """The reply's values; raises TcfError when the slot at ``error`` holds a report, and
        ProtocolError when the reply has fewer than ``values`` values."""
        reply = self.client.call(self.name, command, *args, timeout=timeout, progress=progress)
        if error is not None and len(reply) > error and reply[error] is not None:
            raise TcfError(reply[error], f"{self.name} {command}")
        if len(reply) < max(values, 0 if error is None else error + 1):
            raise ProtocolError(f"{self.name} {command}: {len(reply)} value(s) in the reply, expected {values}")
        return reply

    def _value(self, command: str, *args: Any, timeout: float | None = None) -> Any:
        """The value after the error slot of a command that replies "error; value"."""
        return self._call(command, *args, values=2, timeout=timeout)[1]

    def context(self, context_id: str, *, timeout: float | None = None) -> dict[str, Any]:
        """The properties of a context of this service."""
        return self._value("getContext", context_id, timeout=timeout)

    def children(self, parent: str = "", *, timeout: float | None = None) -> list[str]:
        """The ids of the contexts below ``parent`` ("" for the top)."""
        return self._value("getChildren", parent, timeout=timeout)

    def events(self, event: str | None = None) -> EventQueue:
        """A queue of this service's events (``event`` only, when given) from now on."""
        return self.client.events(self.name, event)

    def subscribe(self, callback: Callable[[Event], None], event: str | None = None) -> Subscription:
        """Calls ``callback`` with each of this service's events (see ``Client.subscribe``)."""
        return self.client.subscribe(self.name, callback, event)
