# SPDX-License-Identifier: Apache-2.0
"""TCF message framing over a byte stream.

A message is a kind byte and a zero byte, then fields each ended by a zero byte, then the end
marker ``3 1``. Inside a field a byte 3 travels as ``3 0``; ``3 2`` ends the stream. Fields are
bytes here: JSON encoding and decoding belong to the client.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Iterable

ESCAPE = 3
END_OF_MESSAGE = b"\x03\x01"
END_OF_STREAM = b"\x03\x02"

COMMAND = "C"
REPLY = "R"
PROGRESS = "P"
NOT_RECOGNISED = "N"
EVENT = "E"
FLOW = "F"
_KINDS = frozenset(COMMAND + REPLY + PROGRESS + NOT_RECOGNISED + EVENT + FLOW)
# The fields each kind needs at least: a command has token, service and name, an event service
# and name, the others their token (or level).
_MINIMUM_FIELDS = {COMMAND: 3, EVENT: 2, REPLY: 1, PROGRESS: 1, NOT_RECOGNISED: 1, FLOW: 1}


class FramingError(Exception):
    """The peer sent bytes that are no TCF message; the connection cannot go on."""


@dataclass(frozen=True, slots=True)
class Message:
    """One decoded message: its kind letter and its fields, unescaped."""

    kind: str
    fields: list[bytes]


def encode(kind: str, fields: Iterable[bytes]) -> bytes:
    """The bytes of one message of ``kind`` (a kind letter) with ``fields``. Raises ValueError
    for a field holding a zero byte: it would end the field (JSON writes it as \\u0000)."""
    parts = [kind.encode("ascii")]
    for field in fields:
        if b"\x00" in field:
            raise ValueError(f"a field cannot hold a zero byte: {field[:32]!r}")
        parts.append(field.replace(b"\x03", b"\x03\x00") if b"\x03" in field else field)
    parts.append(END_OF_MESSAGE)
    return b"\x00".join(parts)


def _decode_one(buffer: bytearray, start: int, end: int) -> Message:
    """The message in ``buffer[start:end]`` (before its end marker). Each field is copied out
    once: large replies cost their copies, so none is made twice."""
    kind = chr(buffer[start])
    if kind not in _KINDS or end - start < 2 or buffer[start + 1] != 0:
        raise FramingError(f"no message kind at the start of {bytes(buffer[start:start + 16])!r}")
    if end - start > 2 and buffer[end - 1] != 0:
        raise FramingError(f"{kind} message whose last field is not ended by a zero byte")
    if buffer.find(3, start, end) >= 0:  # an escape's zero byte is no separator: unescape first
        body = bytes(buffer[start + 2:end - 1]).replace(b"\x03\x00", b"\x03")
        fields = body.split(b"\x00") if end - start > 2 else []
    else:
        fields = []
        with memoryview(buffer) as view:
            at = start + 2
            while at < end:
                stop = buffer.find(0, at, end)
                fields.append(bytes(view[at:stop]))
                at = stop + 1
    if len(fields) < _MINIMUM_FIELDS[kind]:
        raise FramingError(f"{kind} message with {len(fields)} field(s)")
    return Message(kind, fields)


class Decoder:
    """Finds the messages in a byte stream that arrives in pieces of any size."""

    def __init__(self, max_message_bytes: int = 64 * 1024 * 1024) -> None:
        """``max_message_bytes``: a longer message (in bytes on the wire) is a FramingError."""
        self._buffer = bytearray()
        self._scanned = 0
        self._max = max_message_bytes
        self.ended = False

    def feed(self, data: bytes | memoryview) -> list[Message]:
        """The messages that ``data`` completes, in order. Raises FramingError on bytes that are
        no TCF message; sets ``ended`` when the peer said the stream ends."""
        buffer = self._buffer
        buffer += data
        messages: list[Message] = []
        start = 0
        at = self._scanned
        while True:
            at = buffer.find(3, at)
            if at < 0:
                at = len(buffer)
                break
            if at + 1 == len(buffer):
                break  # the escape's second byte is still on its way
            code = buffer[at + 1]
            if code == 1:
                messages.append(_decode_one(buffer, start, at))
                start = at = at + 2
            elif code == 0:
                at += 2
            elif code == 2 and at == start:
                self.ended = True
                start = at = at + 2
            else:
                raise FramingError(f"escape byte 3 followed by {code}")
        del buffer[:start]
        self._scanned = at - start
        if len(buffer) > self._max:
            raise FramingError(f"a message longer than {self._max} bytes")
        return messages
