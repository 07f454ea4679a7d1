# SPDX-License-Identifier: Apache-2.0
"""Firmware files: ELF, Intel HEX and raw binary images, read into segments of bytes.

The format is told by the file's first bytes, not its name. ELF files are read through their
section headers: each allocated section with contents, placed at its load address (the
physical address of the program header that holds it, where the file has program headers).
"""

from __future__ import annotations

import struct
from dataclasses import dataclass, field
from pathlib import Path

from .errors import ImageError

ELF_MAGIC = b"\x7fELF"
_SHT_NOBITS, _SHT_SYMTAB = 8, 2
_SHF_ALLOC = 0x2
_PT_LOAD = 1
_STT_OBJECT, _STT_FUNC = 1, 2
_EM_ARM = 40


@dataclass(frozen=True)
class Segment:
    """Bytes to place at ``address``."""

    address: int
    data: bytes

    @property
    def end(self) -> int:
        """The address after the last byte."""
        return self.address + len(self.data)


@dataclass
class Image:
    """What a firmware file holds: its ``format`` ("ELF", "Intel HEX" or "binary") and its
    segments by address, adjacent pieces joined; ``machine`` is an ELF file's e_machine."""

    format: str
    segments: list[Segment]
    machine: int | None = None
    symbols: dict[str, int] = field(default_factory=dict)

    @property
    def size(self) -> int:
        """The bytes of all segments."""
        return sum(len(s.data) for s in self.segments)


def read_image(path: str | Path, address: int | None = None) -> Image:
    """Reads a firmware file; with ``address`` any file is a binary image placed there. Raises
    ImageError for a file of no known format or a broken one (the message names the file and
    the place), OSError for a file that cannot be read."""
    return parse_image(Path(path).read_bytes(), str(path), address)


def parse_image(data: bytes, name: str, address: int | None = None) -> Image:
    """The same as ``read_image`` for the bytes of a file; ``name`` is what errors call it."""
    if address is not None:
        if address < 0:
            raise ImageError(f"{name}: address {address} is negative")
        return Image("binary", [Segment(address, data)] if data else [])
    if data.startswith(ELF_MAGIC):
        elf = ElfFile(data, name)
        return Image("ELF", _joined(elf.load_segments(), name), elf.machine, elf.symbols())
    if data.startswith(b":"):
        return Image("Intel HEX", _joined(_hex_segments(data, name), name))
    raise ImageError(f"{name} is neither an ELF nor an Intel HEX file (a binary image needs an address)")


def _joined(pieces: list[Segment], name: str) -> list[Segment]:
    """The pieces by address, adjacent ones joined; overlapping ones are an ImageError."""
    joined: list[Segment] = []
    for piece in sorted((p for p in pieces if p.data), key=lambda p: p.address):
        if joined and piece.address < joined[-1].end:
            raise ImageError(f"{name}: the bytes at {piece.address:#x} overlap those before them")
        if joined and piece.address == joined[-1].end:
            joined[-1] = Segment(joined[-1].address, joined[-1].data + piece.data)
        else:
            joined.append(piece)
    return joined


class ElfFile:
    """The header, program headers, section headers and symbols of an ELF file (32 or 64 bits,
    either byte order). Raises ImageError for a file that is cut short or inconsistent."""

    def __init__(self, data: bytes, name: str) -> None:
        self.data, self.name = data, name
        if len(data) < 16 or data[4] not in (1, 2) or data[5] not in (1, 2):
            raise ImageError(f"{name}: not a 32- or 64-bit ELF file of a known byte order")
        self.bits = 32 if data[4] == 1 else 64
        self.order = "<" if data[5] == 1 else ">"
        wide = "I" if self.bits == 32 else "Q"
        header = self._unpack(f"HHI{wide}{wide}{wide}IHHHHHH", 16, "the file header")
        (_, self.machine, _, self.entry, phoff, shoff, _, _, phentsize, phnum, shentsize, shnum, shstrndx) = header
        program = "IIIIIIII" if self.bits == 32 else "IIQQQQQQ"
        self.program_headers = []
        for i in range(phnum):
            fields = self._unpack(program, phoff + i * phentsize, f"program header {i}")
            if self.bits == 64:  # p_flags comes second in 64-bit files
                fields = (fields[0], fields[2], fields[3], fields[4], fields[5], fields[6], fields[1], fields[7])
            self.program_headers.append(fields)  # type, offset, vaddr, paddr, filesz, memsz, flags, align
        section = "IIIIIIIIII" if self.bits == 32 else "IIQQQQIIQQ"
        self.sections = [self._unpack(section, shoff + i * shentsize, f"section header {i}") for i in range(shnum)]
        names = self.sections[shstrndx] if 0 < shstrndx < shnum else None
        self.section_names = [self._string(names, s[0]) if names else "" for s in self.sections]

    def _unpack(self, layout: str, offset: int, what: str) -> tuple[int, ...]:
        try:
            return struct.unpack_from(self.order + layout, self.data, offset)
        except struct.error:
            raise ImageError(f"{self.name}: {what} lies past the end of the file") from None

    def _bytes(self, offset: int, size: int, what: str) -> bytes:
        if offset + size > len(self.data):
            raise ImageError(f"{self.name}: {what} ({size} bytes at offset {offset:#x}) lies past the end of the file")
        return self.data[offset:offset + size]

    def _string(self, table: tuple[int, ...] | None, offset: int) -> str:
        if table is None:
            return ""
        start = table[4] + offset
        end = self.data.find(b"\0", start, table[4] + table[5])
        return self.data[start:end if end >= 0 else start].decode("utf-8", "replace")

    def load_address(self, address: int) -> int:
        """The physical (load) address of a virtual address inside a loadable segment; the
        address itself outside every one."""
        for p_type, _, vaddr, paddr, _, memsz, _, _ in self.program_headers:
            if p_type == _PT_LOAD and vaddr <= address < vaddr + memsz:
                return paddr + (address - vaddr)
        return address

    def load_segments(self) -> list[Segment]:
        """The allocated sections with contents, each at its load address."""
        pieces = []
        for index, (_, sh_type, flags, addr, offset, size, *_rest) in enumerate(self.sections):
            if flags & _SHF_ALLOC and sh_type != _SHT_NOBITS and size:
                what = f"section {self.section_names[index] or index}"
                pieces.append(Segment(self.load_address(addr), self._bytes(offset, size, what)))
        return pieces

    def symbols(self) -> dict[str, int]:
        """Functions and data objects by name, at their addresses (an ARM function's without
        its Thumb bit); empty for a file without a symbol table."""
        found: dict[str, int] = {}
        layout = "IIIBBH" if self.bits == 32 else "IBBHQQ"
        entry = struct.calcsize(self.order + layout)
        for table in (s for s in self.sections if s[1] == _SHT_SYMTAB):
            strings = self.sections[table[6]] if table[6] < len(self.sections) else None
            for offset in range(table[4], table[4] + table[5] - entry + 1, entry):
                fields = self._unpack(layout, offset, "a symbol")
                if self.bits == 32:
                    name, value, _, info = fields[0], fields[1], fields[2], fields[3]
                else:
                    name, info, value = fields[0], fields[1], fields[4]
                kind = info & 0xF
                if kind in (_STT_FUNC, _STT_OBJECT) and name:
                    if kind == _STT_FUNC and self.machine == _EM_ARM:
                        value &= ~1
                    found.setdefault(self._string(strings, name), value)
        return found


def _hex_segments(data: bytes, name: str) -> list[Segment]:
    """The data records of an Intel HEX file; every checksum checked."""
    pieces: list[Segment] = []
    base = 0
    ended = False
    for number, raw in enumerate(data.splitlines(), start=1):
        line = raw.strip()
        if not line:
            continue
        if ended:
            raise ImageError(f"{name} line {number}: a record after the end-of-file record")
        if not line.startswith(b":"):
            raise ImageError(f"{name} line {number}: a record must start with ':'")
        try:
            record = bytes.fromhex(line[1:].decode("ascii"))
        except (ValueError, UnicodeDecodeError):
            raise ImageError(f"{name} line {number}: not hexadecimal digits") from None
        if len(record) < 5 or len(record) != record[0] + 5:
            raise ImageError(f"{name} line {number}: the record's length does not match its count")
        if sum(record) & 0xFF:
            raise ImageError(f"{name} line {number}: wrong checksum")
        count, offset, kind, payload = record[0], int.from_bytes(record[1:3], "big"), record[3], record[4:-1]
        if kind == 0:
            pieces.append(Segment(base + offset, payload))
        elif kind == 1:
            ended = True
        elif kind in (2, 4):
            if count != 2:
                raise ImageError(f"{name} line {number}: an address record needs 2 bytes")
            base = int.from_bytes(payload, "big") << (4 if kind == 2 else 16)
        elif kind not in (3, 5):
            raise ImageError(f"{name} line {number}: unknown record type {kind}")
    if not ended:
        raise ImageError(f"{name}: no end-of-file record")
    return pieces
