# SPDX-License-Identifier: Apache-2.0
"""Firmware files read into segments: ELF through its section headers, Intel HEX, binary."""

from __future__ import annotations

import pytest

from elf_builder import make_elf
from hilcore import ImageError, Segment
from hilcore.images import parse_image, read_image


def ihex(address: int, data: bytes, kind: int = 0) -> bytes:
    record = bytes([len(data)]) + address.to_bytes(2, "big") + bytes([kind]) + data
    return b":" + (record + bytes([-sum(record) & 0xFF])).hex().upper().encode() + b"\n"


END = b":00000001FF\n"


@pytest.mark.parametrize("bits,order", [(32, "<"), (32, ">"), (64, "<"), (64, ">")],
                         ids=["32 LE", "32 BE", "64 LE", "64 BE"])
def test_elf_sections_are_read_in_every_class_and_byte_order(bits: int, order: str) -> None:
    elf = make_elf([(".text", 0x400, b"\x01\x02\x03"), (".vectors", 0, b"\xAA" * 8), (".more", 0x403, b"\x04")],
                   bits=bits, order=order, symbols=[("main", 0x401, 2), ("counter", 0x20000000, 1)])
    image = parse_image(elf, "fw.elf")
    assert image.format == "ELF" and image.machine == 40
    # Adjacent sections are joined, and the segments come by address.
    assert image.segments == [Segment(0, b"\xAA" * 8), Segment(0x400, b"\x01\x02\x03\x04")]
    # An ARM function's address is given without its Thumb bit; data objects as they are.
    assert image.symbols == {"main": 0x400, "counter": 0x20000000}


def test_an_elf_section_goes_to_its_load_address() -> None:
    # .data runs at 0x20000000 but is stored in flash after .text, as start-up code copies it.
    elf = make_elf([(".text", 0x100, b"\x11" * 4), (".data", 0x20000000, b"\x22" * 4)],
                   loads=[(0x100, 0x100, 4), (0x20000000, 0x104, 4)])
    assert parse_image(elf, "fw.elf").segments == [Segment(0x100, b"\x11" * 4 + b"\x22" * 4)]


def test_the_test_firmware_is_read_with_its_vectors_and_symbols(firmware: str) -> None:
    image = read_image(firmware)
    assert image.segments[0].address == 0 and image.symbols["on_tick"] == 0x400
    assert image.symbols["tick_count"] == 0x20000000


def test_intel_hex_with_extended_addresses() -> None:
    text = (ihex(0x0010, b"\x01\x02") + ihex(0, b"\x08\x00", kind=4) + ihex(0x0000, b"\x03\x04")
            + ihex(0x0002, b"\x05") + ihex(0, b"\x10\x00", kind=2) + ihex(0x0000, b"\x06") + END)
    image = parse_image(text, "fw.hex")
    assert image.format == "Intel HEX"
    assert image.segments == [Segment(0x10, b"\x01\x02"), Segment(0x10000, b"\x06"),
                              Segment(0x08000000, b"\x03\x04\x05")]


@pytest.mark.parametrize("text,words", [
    (ihex(0, b"\x01").replace(b"\n", b"") [:-2] + b"00\n" + END, "line 1: wrong checksum"),
    (ihex(0, b"\x01") + b"0000000\n" + END, "line 2: a record must start"),
    (ihex(0, b"\x01"), "no end-of-file record"),
    (ihex(0, b"\x01") + END + ihex(1, b"\x02"), "line 3: a record after the end-of-file"),
    (b":0100000001FE\n:01000000ZZ00\n" + END, "line 2: not hexadecimal"),
    (ihex(0, b"\x01", kind=7) + END, "unknown record type 7"),
], ids=["checksum", "no colon", "no end", "after end", "not hex", "unknown type"])
def test_broken_intel_hex_names_the_line(text: bytes, words: str) -> None:
    with pytest.raises(ImageError, match=words):
        parse_image(text, "fw.hex")


@pytest.mark.parametrize("data,words", [
    (b"\x7fELF" + b"\x01\x01\x01" + bytes(9) + b"\x00" * 10, "past the end"),
    (make_elf([(".a", 0, b"\x01\x02"), (".b", 1, b"\x03")]), "overlap"),
    (b"firmware", "neither an ELF nor an Intel HEX"),
], ids=["cut short", "overlapping", "unknown"])
def test_broken_or_unknown_files_are_refused(data: bytes, words: str) -> None:
    with pytest.raises(ImageError, match=words):
        parse_image(data, "fw")


def test_any_file_given_an_address_is_a_binary_image() -> None:
    image = parse_image(b"\x7fELF-but-raw", "fw.bin", address=0x1000)
    assert image.format == "binary" and image.segments == [Segment(0x1000, b"\x7fELF-but-raw")]
