# SPDX-License-Identifier: Apache-2.0
"""The Breakpoints service: breakpoints and watchpoints, owned by the client that set them."""

from __future__ import annotations

import itertools
import os
import socket
from typing import Any, Sequence

from .base import Service

_ACCESS = {"r": 1, "w": 2, "rw": 3, "a": 3}
_numbers = itertools.count(1)


def new_id() -> str:
    """A breakpoint id no other client uses: "hilcore-py.HOST.PID.N"."""
    return f"hilcore-py.{socket.gethostname()}.{os.getpid()}.{next(_numbers)}"


class Breakpoints(Service):
    """Breakpoints are planted on every target they apply to (``contexts``, or all), and go when
    the client that set them goes. Ids are the client's: ``add`` and ``watch`` make them."""

    name = "Breakpoints"

    def add(self, location: int | str, *, kind: str = "Auto", temporary: bool = False, ignore_count: int = 0,
            contexts: Sequence[str] | None = None, enabled: bool = True, timeout: float | None = None,
            **properties: Any) -> str:
        """A breakpoint at ``location`` (an address); ``kind`` "Auto", "Software" or
        "Hardware". More TCF properties may be given by name. Returns its id."""
        props = {"Location": location if isinstance(location, str) else hex(location), "BreakpointType": kind,
                 "Enabled": enabled, **properties}
        if temporary:
            props["Temporary"] = True
        if ignore_count:
            props["IgnoreCount"] = ignore_count
        if contexts is not None:
            props["ContextIds"] = list(contexts)
        return self.add_properties(props, timeout=timeout)

    def watch(self, address: int, size: int = 4, access: str = "w", *, contexts: Sequence[str] | None = None,
              timeout: float | None = None) -> str:
        """A watchpoint on ``size`` bytes (1, 2, 4 or 8, at a multiple of it) that stops on
        writes ("w"), reads ("r") or both ("rw"). Returns its id."""
        if access not in _ACCESS:
            raise ValueError(f"access {access!r}: one of r, w, rw")
        return self.add(address, AccessMode=_ACCESS[access], Size=size, contexts=contexts, timeout=timeout)

    def add_properties(self, properties: dict[str, Any], *, timeout: float | None = None) -> str:
        """Adds a breakpoint of TCF properties as given (an "ID" is made when there is none);
        returns its id."""
        props = {"ID": new_id(), **properties}
        self._call("add", props, timeout=timeout)
        return str(props["ID"])

    def set(self, table: Sequence[dict[str, Any]] | None, *, timeout: float | None = None) -> None:
        """Replaces this client's breakpoints by ``table`` (None or [] removes them all)."""
        self._call("set", None if table is None else list(table), timeout=timeout)

    def change(self, properties: dict[str, Any], *, timeout: float | None = None) -> None:
        """Replaces a breakpoint's properties (complete, with its "ID")."""
        self._call("change", properties, timeout=timeout)

    def enable(self, ids: Sequence[str], *, timeout: float | None = None) -> None:
        """Enables the breakpoints."""
        self._call("enable", list(ids), timeout=timeout)

    def disable(self, ids: Sequence[str], *, timeout: float | None = None) -> None:
        """Disables the breakpoints."""
        self._call("disable", list(ids), timeout=timeout)

    def remove(self, ids: Sequence[str] | str, *, timeout: float | None = None) -> None:
        """Removes this client's breakpoints of those ids (unknown ids are passed over)."""
        self._call("remove", [ids] if isinstance(ids, str) else list(ids), timeout=timeout)

    def ids(self, *, timeout: float | None = None) -> list[str]:
        """The ids of every client's breakpoints."""
        return self._value("getIDs", timeout=timeout)

    def properties(self, breakpoint_id: str, *, timeout: float | None = None) -> dict[str, Any]:
        """A breakpoint's properties as given."""
        return self._value("getProperties", breakpoint_id, timeout=timeout)

    def status(self, breakpoint_id: str, *, timeout: float | None = None) -> dict[str, Any]:
        """Where the breakpoint is planted: {"Instances": [...], "Error" when nowhere}."""
        return self._value("getStatus", breakpoint_id, timeout=timeout)

    def hits(self, breakpoint_id: str, *, timeout: float | None = None) -> int:
        """How often the breakpoint stopped a target, over all its targets."""
        instances = self.status(breakpoint_id, timeout=timeout).get("Instances", [])
        return sum(int(instance.get("HitCount", 0)) for instance in instances)

    def capabilities(self, context_id: str | None = None, *, timeout: float | None = None) -> dict[str, Any]:
        """What breakpoints the context (or the service) supports."""
        return self._value("getCapabilities", context_id, timeout=timeout)
