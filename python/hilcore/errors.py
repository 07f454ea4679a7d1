# SPDX-License-Identifier: Apache-2.0
"""The exceptions of the package: every one is a HilError."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Sequence


class HilError(Exception):
    """Anything that went wrong talking to a back-end or to a target through it."""


class TcfError(HilError):
    """The back-end answered with a TCF error report.

    ``code`` is the report's "Code" (None when the back-end sent no report object), ``service``
    its "Service" (may be empty), ``text`` its "Format", ``report`` the whole object as sent.
    """

    def __init__(self, report: Any, command: str = "") -> None:
        self.report = report
        self.command = command
        if isinstance(report, dict):
            code = report.get("Code")
            self.code: int | None = code if isinstance(code, int) else None
            self.service: str = str(report.get("Service", ""))
            self.text: str = str(report.get("Format", ""))
        else:
            self.code, self.service, self.text = None, "", str(report)
        where = ", ".join(part for part in (
            f"code {self.code}" if self.code is not None else "",
            f"service {self.service}" if self.service else "") if part)
        message = self.text or "error without a text"
        if where:
            message += f" ({where})"
        super().__init__(f"{command}: {message}" if command else message)


class NotRecognised(HilError):
    """The back-end does not offer the service a command was sent to (it answered "N")."""


class ConnectionLost(HilError):
    """The connection to the back-end closed or broke; every call waiting then, and every call
    after, raises it."""


class ConnectError(HilError, ConnectionError):
    """The back-end could not be reached (refused, no answer, or no Hello)."""


class CallTimeout(HilError, TimeoutError):
    """No reply came within the call's time-out. A reply that comes later is dropped."""


class ProtocolError(HilError):
    """The back-end replied in a shape this client does not know."""


@dataclass(frozen=True)
class RangeError:
    """One run of bytes a memory transfer could not move: ``address`` and ``size`` in bytes,
    ``status`` the target's reason (1 no memory there, 2 outside the address space, 3 read-only,
    other: the GDB server's error number) and its ``text``."""

    address: int
    size: int
    status: int
    text: str = ""

    def __str__(self) -> str:
        words = {1: "no memory there", 2: "outside the address space", 3: "read-only"}
        reason = words.get(self.status, f"refused by the target (status {self.status})")
        detail = f": {self.text}" if self.text else ""
        return f"{self.size} byte(s) at {self.address:#010x}: {reason}{detail}"


class MemoryRangeError(HilError):
    """Some bytes of a memory transfer failed; the others were moved.

    ``ranges`` names each failed run; ``data`` holds what a read gave (failed bytes as the
    back-end filled them), None for a write or fill.
    """

    def __init__(self, context: str, ranges: Sequence[RangeError], data: bytes | None = None) -> None:
        self.context = context
        self.ranges = list(ranges)
        self.data = data
        super().__init__(f"{context}: " + "; ".join(str(r) for r in self.ranges))


class ImageError(HilError, ValueError):
    """A firmware file is none of the known formats, is broken, or does not fit the target."""


class VerifyError(HilError):
    """Bytes read back after a load differ from the file's: ``address`` is the first that does."""

    def __init__(self, address: int, wrote: int, read: int | None) -> None:
        self.address, self.wrote, self.read = address, wrote, read
        got = "nothing" if read is None else f"{read:#04x}"
        super().__init__(f"verify failed at {address:#010x}: wrote {wrote:#04x}, read {got}")


class ExpectTimeout(HilError, TimeoutError):
    """A message matching ``pattern`` did not come within the time-out; ``seen`` holds the last
    lines that did."""

    def __init__(self, pattern: str, timeout: float, seen: Sequence[str]) -> None:
        self.pattern, self.timeout, self.seen = pattern, timeout, list(seen)
        lines = "\n".join(f"  {line}" for line in self.seen) or "  (none)"
        super().__init__(f"no message matched {pattern!r} within {timeout:g} s; the last seen:\n{lines}")


class StopTimeout(HilError, TimeoutError):
    """A target did not stop within the time-out."""


class BackendError(HilError):
    """The back-end process could not be started, or stopped unexpectedly."""
