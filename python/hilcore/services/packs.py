# SPDX-License-Identifier: Apache-2.0
"""The Packs service: the devices the pack manager knows from its index, SVD files and packs."""

from __future__ import annotations

from typing import Any

from .base import Service


class Packs(Service):
    """Device and peripheral names compare in any case. It has no contexts and sends no events."""

    name = "Packs"

    def list(self, filter_text: str | None = None, *, timeout: float | None = None) -> list[dict[str, Any]]:
        """The devices ({name, vendor, family, core, source}) by name; a filter keeps those
        whose name, vendor or family holds it."""
        args = () if filter_text is None else (filter_text,)
        return self._value("list", *args, timeout=timeout)

    def show(self, device: str, *, timeout: float | None = None) -> dict[str, Any]:
        """A device's summary: vendor, family, core, memories, source, peripherals, warnings."""
        return self._value("show", device, timeout=timeout)

    def peripherals(self, device: str, *, timeout: float | None = None) -> list[dict[str, Any]]:
        """A device's peripherals, in the description's order."""
        return self._value("peripherals", device, timeout=timeout)

    def registers(self, device: str, peripheral: str, *, timeout: float | None = None) -> dict[str, Any]:
        """A peripheral's registers with their fields and values."""
        return self._value("registers", device, peripheral, timeout=timeout)

    def rescan(self, *, timeout: float | None = None) -> dict[str, Any]:
        """Scans the pack folders again: {devices, problems}."""
        return self._value("rescan", timeout=timeout)

    def problems(self, *, timeout: float | None = None) -> list[dict[str, Any]]:
        """What kept a file or a device from being used: [{source, text}]."""
        return self._value("problems", timeout=timeout)
