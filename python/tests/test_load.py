# SPDX-License-Identifier: Apache-2.0
"""Loading firmware files into the simulator's DEMO32, in steps, verified."""

from __future__ import annotations

from pathlib import Path

import pytest

from elf_builder import make_elf
from hilcore import Client, ImageError, Target, VerifyError, load

SRAM = 0x20000000


@pytest.fixture
def files(tmp_path: Path) -> dict[str, Path]:
    data = bytes((n * 5 + 1) & 0xFF for n in range(5000))
    elf = make_elf([(".text", SRAM, data[:3000]), (".data", SRAM + 0x8000, data[3000:])])
    record = bytes([4]) + (0x0100).to_bytes(2, "big") + b"\x00" + b"\x03\x00\x03\x01"
    hex_text = b":020000042000DA\n:" + (record + bytes([-sum(record) & 0xFF])).hex().encode() + b"\n:00000001FF\n"
    paths = {"elf": tmp_path / "fw.elf", "hex": tmp_path / "fw.hex", "bin": tmp_path / "fw.bin"}
    paths["elf"].write_bytes(elf)
    paths["hex"].write_bytes(hex_text)
    paths["bin"].write_bytes(data)
    return paths


@pytest.mark.parametrize("kind,address,expected", [
    ("elf", None, [(SRAM, 3000), (SRAM + 0x8000, 2000)]),
    ("hex", None, [(SRAM + 0x100, 4)]),
    ("bin", SRAM + 0x4000, [(SRAM + 0x4000, 5000)]),
], ids=["ELF", "Intel HEX", "binary"])
def test_each_format_loads_verified_in_steps(sim: Target, files: dict[str, Path], kind: str, address: int | None,
                                             expected: list[tuple[int, int]]) -> None:
    reports: list[tuple[str, int, int]] = []
    result = sim.load(files[kind], progress=lambda *report: reports.append(report), address=address, step=1024)
    assert [(a, s) for a, s, _ in result.segments] == expected
    assert result.verified and result.bytes == sum(s for _, s in expected)
    for phase in ("loading", "verifying"):
        done = [d for p, d, total in reports if p == phase]
        assert done == sorted(done) and done[-1] == result.bytes
    for at, size in expected:
        assert len(sim.read(at, size)) == size
    if kind == "bin":
        assert sim.read(SRAM + 0x4000, 5000) == files["bin"].read_bytes()


def test_a_segment_outside_every_space_is_refused_before_anything_is_written(sim: Target, tmp_path: Path) -> None:
    sim.write(SRAM, b"\x00" * 4)
    elf = tmp_path / "far.elf"
    elf.write_bytes(make_elf([(".text", SRAM, b"\x11" * 4), (".far", 0x1_0000_0000, b"\x22")], bits=64))
    with pytest.raises(ImageError, match="lie in no address space") as refused:
        sim.load(elf)
    assert "nothing was written" in str(refused.value)
    assert sim.read(SRAM, 4) == b"\x00" * 4


def test_verify_names_the_first_byte_that_differs(client: Client, sim: Target, files: dict[str, Path]) -> None:
    at = SRAM + 0x4000
    original = files["bin"].read_bytes()

    def spoil(phase: str, done: int, total: int) -> None:
        # Once everything is written, a byte in the middle changes before it is read back.
        if phase == "loading" and done == total:
            client.memory.write(sim.memory_id, at + 1234, bytes([original[1234] ^ 0xFF]))
    with pytest.raises(VerifyError) as failed:
        load(client, sim.device_id, files["bin"], address=at, progress=spoil, step=1000)
    assert (failed.value.address, failed.value.wrote, failed.value.read) == (at + 1234, original[1234],
                                                                             original[1234] ^ 0xFF)
