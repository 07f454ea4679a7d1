# SPDX-License-Identifier: Apache-2.0
"""Small ELF files made in the tests: sections with contents at chosen addresses, optional
program headers that place a section elsewhere, and a symbol table."""

from __future__ import annotations

import struct


def make_elf(sections: list[tuple[str, int, bytes]], *, bits: int = 32, order: str = "<",
             loads: list[tuple[int, int, int]] = (), symbols: list[tuple[str, int, int]] = (),
             machine: int = 40) -> bytes:
    """An ELF file of ``bits`` and byte ``order`` whose allocated sections are (name, address,
    bytes); ``loads`` are (virtual address, physical address, size) program headers;
    ``symbols`` are (name, value, type: 1 object, 2 function)."""
    wide = "I" if bits == 32 else "Q"
    names = b"\0" + b"".join(name.encode() + b"\0" for name, _, _ in sections) + b".shstrtab\0.symtab\0.strtab\0"
    strings = b"\0" + b"".join(name.encode() + b"\0" for name, _, _ in symbols)
    header_size = 52 if bits == 32 else 64
    ph_size = 32 if bits == 32 else 56
    sh_size = 40 if bits == 32 else 64
    body = bytearray()
    offset = header_size + ph_size * len(loads)
    placed = []
    for _, _, data in sections:
        placed.append(offset + len(body))
        body += data
    names_at = offset + len(body)
    body += names
    symtab_at = offset + len(body)
    for name, value, kind in symbols:
        name_at = strings.index(name.encode() + b"\0")
        if bits == 32:
            body += struct.pack(order + "IIIBBH", name_at, value, 4, kind, 0, 1)
        else:
            body += struct.pack(order + "IBBHQQ", name_at, kind, 0, 1, value, 4)
    symtab_size = offset + len(body) - symtab_at
    strtab_at = offset + len(body)
    body += strings
    sh_at = offset + len(body)
    count = len(sections) + 4  # null, sections, .shstrtab, .symtab, .strtab
    header = b"\x7fELF" + bytes([1 if bits == 32 else 2, 1 if order == "<" else 2, 1]) + bytes(9)
    header += struct.pack(order + f"HHI{wide}{wide}{wide}IHHHHHH", 2, machine, 1, 0, header_size if loads else 0,
                          sh_at, 0, header_size, ph_size, len(loads), sh_size, count, len(sections) + 1)
    programs = b""
    for vaddr, paddr, size in loads:
        if bits == 32:
            programs += struct.pack(order + "IIIIIIII", 1, 0, vaddr, paddr, size, size, 7, 4)
        else:
            programs += struct.pack(order + "IIQQQQQQ", 1, 7, 0, vaddr, paddr, size, size, 4)

    def section(name_at: int, kind: int, flags: int, address: int, at: int, size: int, link: int = 0) -> bytes:
        layout = "IIIIIIIIII" if bits == 32 else "IIQQQQIIQQ"
        return struct.pack(order + layout, name_at, kind, flags, address, at, size, link, 0, 4, 0)
    table = section(0, 0, 0, 0, 0, 0)
    for (name, address, data), at in zip(sections, placed):
        table += section(names.index(name.encode() + b"\0"), 1, 0x2, address, at, len(data))
    table += section(names.index(b".shstrtab\0"), 3, 0, 0, names_at, len(names))
    table += section(names.index(b".symtab\0"), 2, 0, 0, symtab_at, symtab_size, link=count - 1)
    table += section(names.index(b".strtab\0"), 3, 0, 0, strtab_at, len(strings))
    return header + programs + bytes(body) + table
