# SPDX-License-Identifier: Apache-2.0
"""The Registers service: CPU registers, one context each, read and written by name."""

from __future__ import annotations

import base64
from typing import Any, Sequence

from ..errors import HilError
from .base import Service


class Registers(Service):
    """CPU registers. The by-name methods take the device id and a register's name ("pc",
    "R0") and carry values as ints in the register's byte order; the raw ones take a register
    context id and carry bytes."""

    name = "Registers"

    def __init__(self, client: Any) -> None:
        super().__init__(client)
        self._layouts: dict[str, dict[str, dict[str, Any]]] = {}

    def get(self, register_id: str, *, timeout: float | None = None) -> bytes:
        """The raw bytes of one register."""
        return base64.b64decode(self._value("get", register_id, timeout=timeout) or "")

    def set(self, register_id: str, value: bytes, *, timeout: float | None = None) -> None:
        """Writes the raw bytes of one register."""
        self._call("set", register_id, base64.b64encode(value).decode(), timeout=timeout)

    def get_many(self, locations: Sequence[tuple[str, int, int]], *, timeout: float | None = None) -> bytes:
        """The bytes of (register id, offset, size) slices, concatenated, in one command."""
        return base64.b64decode(self._value("getm", [list(slice_) for slice_ in locations], timeout=timeout) or "")

    def set_many(self, locations: Sequence[tuple[str, int, int]], data: bytes, *, timeout: float | None = None) -> None:
        """Writes ``data`` across (register id, offset, size) slices, in one command."""
        self._call("setm", [list(slice_) for slice_ in locations], base64.b64encode(data).decode(), timeout=timeout)

    def layout(self, device_id: str, *, refresh: bool = False, timeout: float | None = None) -> dict[str, dict[str, Any]]:
        """The device's registers by name, each its context properties ("ID", "Size",
        "BigEndian", ...), in the device's order. Kept after the first call."""
        if refresh or device_id not in self._layouts:
            contexts = [self.context(rid, timeout=timeout) for rid in self.children(device_id, timeout=timeout)]
            self._layouts[device_id] = {c["Name"]: c for c in contexts}
        return self._layouts[device_id]

    def _register(self, device_id: str, name: str) -> dict[str, Any]:
        registers = self.layout(device_id)
        if name not in registers:
            raise HilError(f"{device_id} has no register {name!r}; it has {', '.join(registers)}")
        return registers[name]

    def read(self, device_id: str, name: str, *, timeout: float | None = None) -> int:
        """The value of register ``name`` of the device."""
        register = self._register(device_id, name)
        return _to_int(self.get(register["ID"], timeout=timeout), register)

    def write(self, device_id: str, name: str, value: int, *, timeout: float | None = None) -> None:
        """Writes register ``name``; raises ValueError for a value that does not fit its size."""
        register = self._register(device_id, name)
        self.set(register["ID"], _to_bytes(value, register), timeout=timeout)

    def read_all(self, device_id: str, *, timeout: float | None = None) -> dict[str, int]:
        """Every readable register of the device by name, in one command."""
        readable = [r for r in self.layout(device_id).values() if r.get("Readable", True)]
        data = self.get_many([(r["ID"], 0, r["Size"]) for r in readable], timeout=timeout)
        values, at = {}, 0
        for register in readable:
            values[register["Name"]] = _to_int(data[at:at + register["Size"]], register)
            at += register["Size"]
        return values


def _order(register: dict[str, Any]) -> str:
    return "big" if register.get("BigEndian") else "little"


def _to_int(data: bytes, register: dict[str, Any]) -> int:
    return int.from_bytes(data, _order(register))


def _to_bytes(value: int, register: dict[str, Any]) -> bytes:
    try:
        return value.to_bytes(register["Size"], _order(register))
    except OverflowError:
        raise ValueError(f"{value:#x} does not fit the {register['Size']} byte(s) of {register['Name']}") from None
