# SPDX-License-Identifier: Apache-2.0
"""The Tool service: probes ("tools"), their set-up, connection and operations."""

from __future__ import annotations

import base64
from typing import Any, Callable

from ..errors import TcfError
from .base import Service

_TOOL_PREFIX = "com.velmora.hil."
_CONNECTION_PREFIX = "com.velmora.hil.connection."


def tool_type(name: str) -> str:
    """The full tool type of a short name: "simulator" is "com.velmora.hil.simulator"; a name
    with a dot is taken as it is."""
    return name if "." in name or not name else _TOOL_PREFIX + name


def connection_type(name: str) -> str:
    """The full connection type of a short name: "qemu" is "com.velmora.hil.connection.qemu";
    "" (no connection) and names with a dot are taken as they are."""
    return name if "." in name or not name else _CONNECTION_PREFIX + name


class Tool(Service):
    """Probes: the types the back-end drives, those plugged in, set-up and tear-down, and each
    probe's operations. A tool lives as long as the connection of the client that set it up."""

    name = "Tool"

    def supported_types(self, *, timeout: float | None = None) -> list[str]:
        """The tool types the back-end can drive."""
        return self._value("getSupportedToolTypes", timeout=timeout)

    def attached(self, tool_type_name: str = "", *, timeout: float | None = None) -> list[dict[str, Any]]:
        """The tools plugged in now (of one type, when given): {"ToolType", "ConnectionType",
        "ConnectionProperties"} each. The type is also checked here: the back-end lists every
        type whatever it is asked."""
        wanted = tool_type(tool_type_name)
        tools = self._value("getAttachedTools", wanted, timeout=timeout)
        return [t for t in tools if not wanted or t.get("ToolType") == wanted]

    def setup(self, tool_type_name: str, connection: str = "", properties: dict[str, Any] | None = None, *,
              timeout: float | None = None) -> str:
        """Sets a tool up and returns its id. Short names are taken: ``setup("gdbremote",
        "qemu", {"Kernel": path})``. Raises TcfError when no tool was made."""
        values = self._call("setupTool", tool_type(tool_type_name), connection_type(connection), properties or {},
                            values=2, timeout=timeout)
        if not values[1]:
            raise TcfError({"Service": "Tool", "Format": f"no tool of type {tool_type(tool_type_name)} was made"},
                           "Tool setupTool")
        return values[1]

    def tear_down(self, tool_id: str, *, timeout: float | None = None) -> None:
        """Tears the tool down (a QEMU it started stops)."""
        self._call("tearDownTool", tool_id, timeout=timeout)

    def set_properties(self, tool_id: str, properties: dict[str, Any], *, timeout: float | None = None) -> None:
        """Sets tool properties ("DeviceName", "Timeout", ...); most take effect at connect."""
        self._call("setProperties", tool_id, properties, timeout=timeout)

    def connect(self, tool_id: str, *, timeout: float | None = None) -> None:
        """Connects the tool to its target (starts QEMU for a QEMU connection)."""
        self._call("connect", tool_id, timeout=timeout)

    def disconnect(self, tool_id: str, *, timeout: float | None = None) -> None:
        """Disconnects the tool from its target."""
        self._call("disconnect", tool_id, timeout=timeout)

    def check_firmware(self, tool_id: str, *, timeout: float | None = None) -> None:
        """Checks the probe's firmware; raises TcfError when it needs an upgrade or failed."""
        self._call("checkFirmware", tool_id, timeout=timeout)

    def set_boot_mode(self, tool_id: str, *, timeout: float | None = None) -> None:
        """Puts the probe into its boot mode."""
        self._call("setBootMode", tool_id, timeout=timeout)

    def detect_devices(self, tool_id: str, *, timeout: float | None = None) -> list[dict[str, Any]]:
        """The devices the probe finds on its target."""
        return self._value("detectDevices", tool_id, timeout=timeout)

    def upgrade(self, tool_id: str, force: bool = False, progress: Callable[[dict[str, Any]], None] | None = None,
                *, timeout: float | None = None) -> None:
        """Upgrades the probe's firmware; ``progress`` receives each {"Progress", "Phase"}."""
        report = (lambda values: progress(values[0])) if progress else None
        self._call("startUpgrade", tool_id, force, timeout=timeout, progress=report)

    def poll(self, on: bool, *, timeout: float | None = None) -> None:
        """Switches the back-end's polling for attached tools on or off (for all clients)."""
        self._call("pollForTools", on, timeout=timeout)

    def voltage(self, tool_id: str, *, timeout: float | None = None) -> float:
        """The target voltage in volts; NaN when the probe does not know it."""
        return float(self._value("getTargetVoltage", tool_id, timeout=timeout))

    def self_test(self, tool_id: str, *, timeout: float | None = None) -> dict[str, Any]:
        """The probe's self-test results."""
        return self._value("selfTest", tool_id, timeout=timeout)

    def calibrate(self, tool_id: str, *, timeout: float | None = None) -> bool:
        """Calibrates the probe; whether it succeeded."""
        return bool(self._value("calibrate", tool_id, timeout=timeout))

    def raw(self, tool_id: str, request: bytes, wait_ms: int = 1000, *, timeout: float | None = None) -> bytes:
        """Sends raw bytes to the probe and returns its response; ``wait_ms`` is how long the
        probe may take, in milliseconds."""
        values = self._call("cmd", tool_id, base64.b64encode(request).decode(), wait_ms, error=1, timeout=timeout)
        return base64.b64decode(values[0] or "")

    def text(self, tool_id: str, command: str, *, timeout: float | None = None) -> str | None:
        """Sends a text command (a GDB server's monitor command) and returns the answer, None
        when there is none."""
        values = self._call("genericStringCommand", tool_id, command, timeout=timeout)
        return values[1] if len(values) > 1 else None

    def special(self, tool_id: str, operation: str, parameters: dict[str, Any] | None = None, *,
                timeout: float | None = None) -> None:
        """Runs a special operation of the tool ("reset", "halt", "resume", "setVoltage", ...)."""
        self._call("SpecialOperation", tool_id, operation, parameters or {}, timeout=timeout)
