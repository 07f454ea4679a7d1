# SPDX-License-Identifier: Apache-2.0
"""The StackTrace service: the frames of a suspended target."""

from __future__ import annotations

from typing import Any

from ..errors import TcfError
from .base import Service


class StackTrace(Service):
    """The top frame (the PC) and, where the link register holds a return address, the caller.
    Calls fail with TcfError code 14 while the target runs."""

    name = "StackTrace"

    def frames(self, target: str, *, timeout: float | None = None) -> list[dict[str, Any]]:
        """The frames, the top one first: {ID, ParentID, ProcessID, TopFrame, Index, Level, IP, RP}."""
        ids = self.children(target, timeout=timeout)
        values = self._call("getContext", ids, error=1, values=2, timeout=timeout)
        if values[1] is not None:
            raise TcfError(values[1], "StackTrace getContext")
        return [frame for frame in reversed(values[0] or []) if frame is not None]
