# SPDX-License-Identifier: Apache-2.0
"""The framing: escapes, fields that hold the special bytes, and streams cut anywhere."""

import pytest

from hilcore import wire

# Values with the bytes the framing treats specially: the escape 3 (alone, doubled, at either
# end, before 0/1/2 as an end marker would read), and zero bytes JSON carries as \u0000.
AWKWARD_FIELDS = [
    b"",
    b"\x03",
    b"\x03\x03",
    b"\x03\x01",
    b"\x03\x02",
    b"a\x03b\x03",
    b'"\\u0000\\u0003"',
    bytes(range(1, 256)),
]


@pytest.mark.parametrize("field", AWKWARD_FIELDS, ids=range(len(AWKWARD_FIELDS)))
def test_a_field_comes_back_as_sent_whatever_its_bytes(field: bytes) -> None:
    message = wire.encode(wire.REPLY, [b"7", field, b"tail"])
    assert wire.Decoder().feed(message) == [wire.Message(wire.REPLY, [b"7", field, b"tail"])]


def test_messages_cut_at_every_byte_come_out_whole_and_in_order() -> None:
    messages = [wire.Message(wire.EVENT, [b"S", b"e", field]) for field in AWKWARD_FIELDS]
    stream = b"".join(wire.encode(m.kind, m.fields) for m in messages)
    for size in (1, 2, 3, 7):
        decoder = wire.Decoder()
        got = []
        for at in range(0, len(stream), size):
            got += decoder.feed(stream[at:at + size])
        assert got == messages, f"pieces of {size} byte(s)"


def test_a_raw_zero_byte_cannot_be_sent() -> None:
    with pytest.raises(ValueError, match="zero byte"):
        wire.encode(wire.COMMAND, [b"1", b"S", b"c", b'"a\x00b"'])


def test_many_messages_in_one_read() -> None:
    stream = b"".join(wire.encode(wire.REPLY, [str(n).encode()]) for n in range(100))
    assert [m.fields[0] for m in wire.Decoder().feed(stream)] == [str(n).encode() for n in range(100)]


def test_end_of_stream_between_messages_is_noticed() -> None:
    decoder = wire.Decoder()
    assert decoder.feed(wire.encode(wire.REPLY, [b"1"]) + wire.END_OF_STREAM) == [wire.Message(wire.REPLY, [b"1"])]
    assert decoder.ended


@pytest.mark.parametrize("stream", [
    b"C\x001\x00S\x00\x03\x05",          # an escape that is none of the three
    b"R\x001\x00\x03\x02\x03\x01",       # end of stream inside a message
    b"X\x001\x00\x03\x01",               # no such kind
    b"R\x001\x03\x01",                   # last field without its zero byte
    b"C\x001\x00S\x00\x03\x01",          # a command without its name
], ids=["bad escape", "end inside", "unknown kind", "unended field", "short command"])
def test_bytes_that_are_no_message_are_refused(stream: bytes) -> None:
    with pytest.raises(wire.FramingError):
        wire.Decoder().feed(stream)


def test_a_message_over_the_limit_is_refused_before_it_ends() -> None:
    decoder = wire.Decoder(max_message_bytes=1000)
    with pytest.raises(wire.FramingError, match="longer than 1000"):
        decoder.feed(b"R\x001\x00" + b"x" * 2000)
