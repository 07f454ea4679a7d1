# SPDX-License-Identifier: Apache-2.0
"""The RunControl service: halting, running and stepping targets with run control."""

from __future__ import annotations

import time
from dataclasses import dataclass, field
from typing import Any

from ..errors import HilError, StopTimeout, TcfError
from .base import Service

RESUME, STEP_OVER, STEP_INTO = 0, 1, 2  # resume modes
_ALREADY_SUSPENDED = 10


@dataclass(frozen=True)
class Stop:
    """Where and why a target stopped: ``pc`` (None when unknown), ``reason`` ("Suspended",
    "Step", "Breakpoint", "Watchpoint", "Exception", "Signal") and the state ``data``."""

    target: str
    pc: int | None
    reason: str | None
    data: dict[str, Any] = field(default_factory=dict)

    @property
    def breakpoints(self) -> list[str]:
        """The ids of the breakpoints that stopped it."""
        return list(self.data.get("BPs", []))

    @property
    def data_address(self) -> int | None:
        """The address a watchpoint saw touched."""
        return self.data.get("DataAddress")


@dataclass(frozen=True)
class RunState:
    """A target's state: ``suspended``, and where and why when it is."""

    suspended: bool
    pc: int | None
    reason: str | None
    data: dict[str, Any]


class RunControl(Service):
    """Targets whose driver can halt and run them (not the simulator's). A target's id is its
    device context's. Commands answer once the action started; ``halt``, ``step`` and
    ``wait_stopped`` also wait for the stop, up to ``timeout`` seconds (StopTimeout)."""

    name = "RunControl"

    def children(self, parent: str | None = None, *, timeout: float | None = None) -> list[str]:
        """The targets with run control (a target has no children)."""
        return self._value("getChildren", parent, timeout=timeout)

    def state(self, target: str, *, timeout: float | None = None) -> RunState:
        """Whether the target is suspended, with its PC, the reason and the state data."""
        values = self._call("getState", target, values=5, timeout=timeout)
        return RunState(bool(values[1]), values[2], values[3], values[4] or {})

    def suspend(self, target: str, *, timeout: float | None = None) -> None:
        """Asks the target to stop (TcfError code 10 when it is stopped already)."""
        self._call("suspend", target, timeout=timeout)

    def resume(self, target: str, mode: int = RESUME, count: int = 1, *, timeout: float | None = None) -> None:
        """Lets the target run (mode RESUME) or step ``count`` instructions (1 to 100000)."""
        self._call("resume", target, mode, count, timeout=timeout)

    def terminate(self, target: str, *, timeout: float | None = None) -> None:
        """Always refused: a target is not terminated."""
        self._call("terminate", target, timeout=timeout)

    def detach(self, target: str, *, timeout: float | None = None) -> None:
        """Always refused."""
        self._call("detach", target, timeout=timeout)

    def halt(self, target: str, timeout: float = 10.0) -> Stop:
        """Stops the target and returns where; a stopped target is left as it is."""
        with self.events() as events:
            state = self.state(target)
            if state.suspended:
                return Stop(target, state.pc, state.reason, state.data)
            try:
                self.suspend(target)
            except TcfError as error:
                if error.code != _ALREADY_SUSPENDED:
                    raise
                state = self.state(target)
                return Stop(target, state.pc, state.reason, state.data)
            return self._next_stop(events, target, timeout)

    def step(self, target: str, count: int = 1, timeout: float = 10.0, mode: int = STEP_INTO) -> Stop:
        """Runs ``count`` instructions and returns where the target stopped (a stop of another
        reason on the way ends the steps there)."""
        with self.events() as events:
            self.resume(target, mode, count)
            return self._next_stop(events, target, timeout)

    def wait_stopped(self, target: str, timeout: float = 10.0) -> Stop:
        """Waits until the target stops and returns where; at once when it is stopped already,
        so that resume() then wait_stopped() never misses a stop that came between them."""
        with self.events() as events:
            state = self.state(target)
            if state.suspended:
                return Stop(target, state.pc, state.reason, state.data)
            return self._next_stop(events, target, timeout)

    def _next_stop(self, events: Any, target: str, timeout: float) -> Stop:
        deadline = time.monotonic() + timeout
        while True:
            event = events.wait_for(lambda e: e.name in ("contextSuspended", "contextException")
                                    and e.args and e.args[0] == target, max(0.0, deadline - time.monotonic()))
            if event is None:
                raise StopTimeout(f"{target} did not stop within {timeout:g} s")
            if event.name == "contextException":
                raise HilError(f"{target}: {event.args[1] if len(event.args) > 1 else 'exception'}")
            pc, reason, data = (list(event.args[1:4]) + [None, None, None])[:3]
            return Stop(target, pc, reason, data or {})
