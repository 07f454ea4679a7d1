# SPDX-License-Identifier: Apache-2.0
"""Loading firmware into a device: each segment into the address space that holds it."""

from __future__ import annotations

import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import TYPE_CHECKING, Callable

from .errors import ImageError, VerifyError
from .images import Image, Segment, read_image
from .services.memory import STEP

if TYPE_CHECKING:
    from .client import Client

LoadProgress = Callable[[str, int, int], None]  # (phase "loading" or "verifying", bytes done, bytes in all)


@dataclass(frozen=True)
class Space:
    """A memory context and the addresses it covers (``first`` to ``last``, both inside)."""

    id: str
    first: int
    last: int

    def holds(self, segment: Segment) -> bool:
        """Whether every byte of ``segment`` lies inside."""
        return self.first <= segment.address and segment.end - 1 <= self.last


@dataclass
class LoadResult:
    """What a load did: the file's format, each segment's (address, size, memory id), the
    bytes written, the seconds it took and whether it was read back."""

    format: str
    segments: list[tuple[int, int, str]] = field(default_factory=list)
    bytes: int = 0
    seconds: float = 0.0
    verified: bool = False


def spaces_of(client: Client, device_id: str) -> list[Space]:
    """The memory contexts of a device, in its order, with their bounds."""
    return [space_of(client, memory_id) for memory_id in client.memory.children(device_id)]


def space_of(client: Client, memory_id: str) -> Space:
    """One memory context with its bounds."""
    context = client.memory.context(memory_id)
    return Space(memory_id, int(context.get("StartBound", 0)), int(context.get("EndBound", (1 << 32) - 1)))


def load(client: Client, device_id: str, image: str | Path | Image, *, verify: bool = True, address: int | None = None,
         space: str | None = None, progress: LoadProgress | None = None, step: int = STEP,
         timeout: float | None = None) -> LoadResult:
    """Writes a firmware file (ELF, Intel HEX, or any file as raw bytes at ``address``) into the
    device, each segment into the first memory context of the device that holds it whole (or
    into ``space``), in commands of ``step`` bytes; with ``verify`` reads everything back.

    ``progress`` gets (phase, bytes done, bytes in all) after each step; ``timeout`` (seconds)
    applies to each step. Raises ImageError for a file of no known format or a segment outside
    every space (before anything is written), MemoryRangeError for bytes the target refused,
    VerifyError naming the first byte read back that differs.
    """
    if not isinstance(image, Image):
        image = read_image(image, address)
    spaces = [space_of(client, space)] if space else spaces_of(client, device_id)
    placed = []
    for segment in image.segments:
        home = next((s for s in spaces if s.holds(segment)), None)
        if home is None:
            known = ", ".join(f"{s.id} {s.first:#x}-{s.last:#x}" for s in spaces) or "it has none"
            raise ImageError(f"{len(segment.data)} byte(s) at {segment.address:#010x} lie in no address space of "
                             f"{space or device_id} ({known}); nothing was written")
        placed.append((segment, home.id))
    result = LoadResult(image.format, [(s.address, len(s.data), memory_id) for s, memory_id in placed])
    started = time.monotonic()
    for phase in ("loading", "verifying") if verify else ("loading",):
        done = 0
        for segment, memory_id in placed:
            def report(count: int, _total: int, before: int = done) -> None:
                if progress:
                    progress(phase, before + count, image.size)
            if phase == "loading":
                client.memory.write(memory_id, segment.address, segment.data, step=step, progress=report,
                                    timeout=timeout)
            else:
                _compare(segment, client.memory.read(memory_id, segment.address, len(segment.data), step=step,
                                                     progress=report, timeout=timeout))
            done += len(segment.data)
        if phase == "loading":
            result.bytes, result.seconds = done, time.monotonic() - started
    result.verified = verify
    return result


def _compare(segment: Segment, read: bytes) -> None:
    if read == segment.data:
        return
    at = next((i for i, (a, b) in enumerate(zip(segment.data, read)) if a != b), min(len(read), len(segment.data)))
    raise VerifyError(segment.address + at, segment.data[at], read[at] if at < len(read) else None)
