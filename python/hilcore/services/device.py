# SPDX-License-Identifier: Apache-2.0
"""The Device service: device descriptions by name, and the device contexts of tools."""

from __future__ import annotations

from typing import Any

from .base import Service

_SESSIONS = {"debug": "DebuggingSession", "program": "ProgrammingSession"}


class Device(Service):
    """Device descriptions, and sessions and erases on connected devices."""

    name = "Device"

    def supported_devices(self, *, timeout: float | None = None) -> list[str]:
        """Always empty: the Packs service lists the devices."""
        return self._value("getSupportedDevices", timeout=timeout)

    def start_session(self, device_id: str, kind: str = "debug", *, timeout: float | None = None) -> dict[str, Any]:
        """Starts a "debug" or "program" session (or a session type by its full name) and returns
        the device's non-zero identification ({"signature", "jtagId", ...})."""
        values = self._call("startSession", device_id, _SESSIONS.get(kind, kind), timeout=timeout)
        return values[1] if len(values) > 1 and values[1] is not None else {}

    def end_session(self, device_id: str, *, timeout: float | None = None) -> None:
        """Ends the device's session."""
        self._call("endSession", device_id, timeout=timeout)

    def erase(self, device_id: str, erase_type: int | None = None, key: str | None = None, *,
              timeout: float | None = None) -> None:
        """Erases the device (its flash), or what ``erase_type`` and ``key`` select."""
        options: dict[str, Any] = {}
        if erase_type is not None:
            options["Type"] = erase_type
        if key is not None:
            options["EraseKey"] = key
        self._call("erase", device_id, *([options] if options else []), timeout=timeout)

    def disable_feature(self, device_id: str, operation: int, *, timeout: float | None = None) -> None:
        """Disables a feature of the device, by its operation number."""
        self._call("disableFeature", device_id, operation, timeout=timeout)

    def special_operation(self, device_id: str, operation: int, *, timeout: float | None = None) -> None:
        """Runs a special operation of the device, by number (the simulator: 1 external reset,
        2 power off, 3 power on, 4 a target event)."""
        self._call("specialOperation", device_id, operation, timeout=timeout)

    def property(self, device_id: str, selector: int, *, timeout: float | None = None) -> Any:
        """A property of the device, by selector."""
        return self._value("getProperty", device_id, selector, timeout=timeout)

    def info(self, device_id: str, selector: int, *, timeout: float | None = None) -> Any:
        """An item of the device's information, by selector."""
        return self._value("getInfo", device_id, selector, timeout=timeout)

    def description(self, name: str, *, timeout: float | None = None) -> dict[str, Any]:
        """A device's description: {"name", "architecture", "series", "addresspaces"}."""
        return self._value("getDeviceInfo", name, timeout=timeout)

    def address_space(self, name: str, space: str, *, timeout: float | None = None) -> dict[str, Any]:
        """An address space of a device: {"name", "start", "size", "endianness", "segments"}."""
        return self._value("getAddresspaceInfo", name, space, timeout=timeout)

    def module(self, name: str, module: str, *, timeout: float | None = None) -> dict[str, Any]:
        """A module of a device: {"name", "registerGroups", "propertyGroups"}."""
        return self._value("getModule", name, module, timeout=timeout)

    def module_instance(self, name: str, instance: str, *, timeout: float | None = None) -> dict[str, Any]:
        """A module instance: {"name", "registerGroups", "parameters"}."""
        return self._value("getModuleInstance", name, instance, timeout=timeout)

    def register_group(self, name: str, module: str, group: str, *, timeout: float | None = None) -> dict[str, Any]:
        """A register group of a module: {"name", "size", "registers"}."""
        return self._value("getRegisterGroup", name, module, group, timeout=timeout)

    def register_group_instance(self, name: str, instance: str, group: str, *,
                                timeout: float | None = None) -> dict[str, Any]:
        """A register group of an instance, with its address: {"name", "size", "offset",
        "address", "address-space", "registers"}."""
        return self._value("getRegisterGroupInstance", name, instance, group, timeout=timeout)

    def property_group(self, name: str, group: str, *, timeout: float | None = None) -> dict[str, Any]:
        """A property group: {"name", "properties": [{"name", "value"}]}."""
        return self._value("getPropertyGroup", name, group, timeout=timeout)

    def applets(self, name: str, *, timeout: float | None = None) -> list[dict[str, Any]]:
        """The device's boot-loader applets: [{"type", "applets": [{"name", "path"}]}]."""
        return self._value("getAvailableApplets", name, timeout=timeout)
