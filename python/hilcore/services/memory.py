# SPDX-License-Identifier: Apache-2.0
"""The Memory service: target memory, one context per address space."""

from __future__ import annotations

import base64
import json
from typing import Any, Callable, Iterable, Sequence

from ..errors import MemoryRangeError, ProtocolError, RangeError, TcfError
from .base import Service

STEP = 1 << 20  # bytes a read or write moves in one command
Progress = Callable[[int, int], None]  # (bytes done, bytes in all)


def range_errors(value: Any) -> list[RangeError]:
    """The failed runs of a reply's range error list."""
    if not value:
        return []
    try:
        return [RangeError(int(r["addr"]), int(r["size"]), int(r["stat"]), str(r.get("msg", ""))) for r in value]
    except (KeyError, TypeError, ValueError):
        raise ProtocolError(f"a range error list of an unknown shape: {value!r}") from None


def _check_range(address: int, size: int) -> None:
    if address < 0 or size < 0:
        raise ValueError(f"address {address} and size {size} must not be negative")


class Memory(Service):
    """Reads, writes and fills target memory. Addresses and sizes are in bytes. A transfer of
    which some bytes fail still moves the others, then raises MemoryRangeError naming each
    failed run (a read's exception also carries the bytes read)."""

    name = "Memory"

    def read(self, memory_id: str, address: int, size: int, *, word_size: int = 1, mode: int = 0,
             step: int = STEP, progress: Progress | None = None, timeout: float | None = None) -> bytes:
        """``size`` bytes from ``address``, in commands of ``step`` bytes; ``progress`` gets
        (bytes done, size) after each. ``timeout`` applies to each step."""
        _check_range(address, size)
        chunks: list[bytes] = []
        failed: list[RangeError] = []
        for at, count in _steps(address, size, step):
            # The data's JSON text is read as it came: a large reply is not decoded twice.
            fields = self.client.call_raw(self.name, "get", _texts(memory_id, at, word_size, count, mode), timeout=timeout)
            values = self.client.decode_values(fields[1:], self.name, "get")
            if values and values[0] is not None:
                raise TcfError(values[0], "Memory get")
            data = base64.b64decode(_string_bytes(fields[0]) if fields else b"")
            if len(data) != count:
                raise ProtocolError(f"Memory get: {len(data)} byte(s) for {count} asked")
            chunks.append(data)
            failed += range_errors(values[1] if len(values) > 1 else None)
            if progress:
                progress(at + count - address, size)
        data = b"".join(chunks)
        if failed:
            raise MemoryRangeError(f"reading {size} byte(s) at {address:#x} of {memory_id}", failed, data)
        return data

    def write(self, memory_id: str, address: int, data: bytes, *, word_size: int = 1, mode: int = 0,
              step: int = STEP, progress: Progress | None = None, timeout: float | None = None) -> None:
        """Writes ``data`` at ``address``, in commands of ``step`` bytes; ``progress`` gets
        (bytes done, len(data)) after each. ``timeout`` applies to each step."""
        _check_range(address, len(data))
        failed: list[RangeError] = []
        view = memoryview(data)
        for at, count in _steps(address, len(data), step):
            chunk = base64.b64encode(view[at - address:at - address + count]).decode()
            values = self._call("set", memory_id, at, word_size, count, mode, chunk, timeout=timeout)
            failed += range_errors(values[1] if len(values) > 1 else None)
            if progress:
                progress(at + count - address, len(data))
        if failed:
            raise MemoryRangeError(f"writing {len(data)} byte(s) at {address:#x} of {memory_id}", failed)

    def fill(self, memory_id: str, address: int, size: int, pattern: bytes | Sequence[int], *, word_size: int = 1,
             mode: int = 0, timeout: float | None = None) -> None:
        """Fills ``size`` bytes from ``address`` with ``pattern`` repeated. The back-end takes
        the address as a signed 32-bit number: addresses at or above 4 GiB raise ValueError."""
        _check_range(address, size)
        if address >= 1 << 32:
            raise ValueError(f"fill reaches 32-bit addresses only, not {address:#x}")
        if not pattern:
            raise ValueError("fill needs a pattern of at least one byte")
        signed = address - (1 << 32) if address >= 1 << 31 else address
        values = self._call("fill", memory_id, signed, word_size, size, mode, list(bytes(pattern)), timeout=timeout)
        failed = range_errors(values[1] if len(values) > 1 else None)
        if failed:
            raise MemoryRangeError(f"filling {size} byte(s) at {address:#x} of {memory_id}", failed)

    def cache_range(self, memory_id: str, address: int, size: int, flags: int = 0, *,
                    timeout: float | None = None) -> None:
        """Holds writes to the range until ``commit_cache`` (or ``uncache_range``)."""
        self._call("cacheRange", memory_id, address, size, flags, timeout=timeout)

    def uncache_range(self, memory_id: str, address: int, size: int, *, timeout: float | None = None) -> None:
        """Writes the range's held writes through and stops holding them."""
        self._call("uncacheRange", memory_id, address, size, 0, timeout=timeout)

    def commit_cache(self, memory_id: str, *, timeout: float | None = None) -> None:
        """Writes every held write of the context through."""
        self._call("commitCache", memory_id, 0, 0, 0, 0, 0, timeout=timeout)


def _texts(*values: Any) -> list[bytes]:
    return [json.dumps(value).encode() for value in values]


def _string_bytes(field: bytes) -> bytes | memoryview:
    """The contents of a JSON string text without escapes (Base64 has none) as they came;
    anything else through the JSON decoder."""
    if len(field) >= 2 and field[0] == field[-1] == 0x22 and b"\\" not in field:
        return memoryview(field)[1:-1]
    value = json.loads(field) if field else ""
    if not isinstance(value, str):
        raise ProtocolError(f"Memory get: data that is no string: {field[:40]!r}")
    return value.encode("ascii")


def _steps(address: int, size: int, step: int) -> Iterable[tuple[int, int]]:
    if step <= 0:
        raise ValueError(f"a step of {step} bytes")
    for offset in range(0, size, step):
        yield address + offset, min(step, size - offset)
