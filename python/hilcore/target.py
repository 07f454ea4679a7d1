# SPDX-License-Identifier: Apache-2.0
"""A target: a tool set up and connected on a client, with its device, memory and messages."""

from __future__ import annotations

from pathlib import Path
from typing import TYPE_CHECKING, Any

from .errors import ConnectionLost, HilError, TcfError
from .images import Image, read_image
from .loader import LoadProgress, LoadResult, load
from .services.runcontrol import Stop

if TYPE_CHECKING:
    from .client import Client

_RUNNING_ALREADY = 12  # RunControl's code for a resume of a running target


class Target:
    """Sets up a tool, sets its tool properties, connects it and finds its device; ``close``
    (or the end of a ``with``) tears it down, and a QEMU it started goes with it.

    ``device_id`` is the device context, ``memory_id`` the device's first memory context and
    ``messages`` a MessageLog of the device's messages from before the connect on. Raises what
    the services raise; a tool whose connect fails is torn down before the error goes up.
    """

    def __init__(self, client: Client, tool_type: str, connection: str = "",
                 connection_properties: dict[str, Any] | None = None, tool_properties: dict[str, Any] | None = None,
                 *, connect_timeout: float = 30.0) -> None:
        self.client = client
        self.tool_id = client.tool.setup(tool_type, connection, connection_properties)
        self.messages = client.message.log(self.tool_id)
        self.symbols: dict[str, int] = {}  # of the last ELF file loaded
        self._closed = False
        try:
            if tool_properties:
                client.tool.set_properties(self.tool_id, tool_properties)
            client.tool.connect(self.tool_id, timeout=connect_timeout)
            devices = [d for d in client.device.children("") if d.startswith(self.tool_id + ".")]
            if not devices:
                raise HilError(f"{self.tool_id} connected but has no device")
            self.device_id: str = devices[0]
            memories = client.memory.children(self.device_id)
            self.memory_id: str | None = memories[0] if memories else None
        except BaseException:
            self.close()
            raise

    @classmethod
    def simulator(cls, client: Client, device: str = "DEMO32", **options: Any) -> Target:
        """The simulator on a sample device ("DEMO8", "DEMO32")."""
        return cls(client, "simulator", "", {}, {"DeviceName": device}, **options)

    @classmethod
    def qemu(cls, client: Client, kernel: str | Path | None = None, machine: str = "mps2-an385",
             **options: Any) -> Target:
        """A QEMU the back-end starts, halted before the first instruction of ``kernel`` (an ELF
        file; its path is made absolute, as the back-end resolves it from its own folder)."""
        properties: dict[str, Any] = {"Machine": machine}
        if kernel is not None:
            properties["Kernel"] = str(Path(kernel).resolve())
        return cls(client, "gdbremote", "qemu", properties, **options)

    @classmethod
    def gdb_server(cls, client: Client, host: str, port: int, device: str | None = None, **options: Any) -> Target:
        """A GDB server that runs already (OpenOCD, pyOCD, ...); ``device`` names its description."""
        return cls(client, "gdbremote", "tcp", {"Host": host, "Port": port},
                   {"DeviceName": device} if device else None, **options)

    def _memory(self) -> str:
        if self.memory_id is None:
            raise HilError(f"{self.device_id} has no memory context")
        return self.memory_id

    def read(self, address: int, size: int, **options: Any) -> bytes:
        """``size`` bytes from ``address`` of the first memory (options as Memory.read)."""
        return self.client.memory.read(self._memory(), address, size, **options)

    def write(self, address: int, data: bytes, **options: Any) -> None:
        """Writes ``data`` at ``address`` of the first memory (options as Memory.write)."""
        self.client.memory.write(self._memory(), address, data, **options)

    def read_u32(self, address: int) -> int:
        """The little-endian 32-bit word at ``address``."""
        return int.from_bytes(self.read(address, 4), "little")

    def register(self, name: str) -> int:
        """The value of a CPU register by name ("pc", "R0")."""
        return self.client.registers.read(self.device_id, name)

    def set_register(self, name: str, value: int) -> None:
        """Writes a CPU register by name."""
        self.client.registers.write(self.device_id, name, value)

    def registers(self) -> dict[str, int]:
        """Every readable CPU register by name."""
        return self.client.registers.read_all(self.device_id)

    def load(self, image: str | Path | Image, verify: bool = True, progress: LoadProgress | None = None,
             **options: Any) -> LoadResult:
        """Loads a firmware file into the device (see ``hilcore.load``); an ELF file's symbols
        are kept for ``break_at``."""
        if not isinstance(image, Image):
            image = read_image(image, options.pop("address", None))
        self.symbols = image.symbols or self.symbols
        return load(self.client, self.device_id, image, verify=verify, progress=progress, **options)

    def special(self, operation: str, parameters: dict[str, Any] | None = None) -> None:
        """Runs a special operation of the tool ("reset", "halt", "resume", ...)."""
        self.client.tool.special(self.tool_id, operation, parameters)

    def reset(self, halt: bool = False) -> None:
        """Resets the target through its tool; it runs afterwards unless ``halt``."""
        self.special("reset")
        if not halt:
            try:
                self.client.run_control.resume(self.device_id)
            except TcfError as error:
                if error.code != _RUNNING_ALREADY:
                    raise

    def halt(self, timeout: float = 10.0) -> Stop:
        """Stops the target and returns where (a stopped target stays as it is)."""
        return self.client.run_control.halt(self.device_id, timeout)

    def resume(self) -> None:
        """Lets the target run."""
        self.client.run_control.resume(self.device_id)

    def step(self, count: int = 1, timeout: float = 10.0) -> Stop:
        """Runs ``count`` instructions and returns where the target stopped."""
        return self.client.run_control.step(self.device_id, count, timeout)

    def wait_stopped(self, timeout: float = 10.0) -> Stop:
        """Waits until the target stops (at once when it is stopped) and returns where."""
        return self.client.run_control.wait_stopped(self.device_id, timeout)

    def break_at(self, location: int | str, **options: Any) -> str:
        """A breakpoint on this target at an address or, given a name, at the function of that
        name in the symbols of the last ELF file loaded; returns its id."""
        if isinstance(location, str) and not location[:1].isdigit():
            if location not in self.symbols:
                raise HilError(f"no symbol {location!r}: load an ELF file with symbols first")
            location = self.symbols[location]
        return self.client.breakpoints.add(location, contexts=[self.device_id], **options)

    def close(self) -> None:
        """Tears the tool down; safe to call twice, and after the connection went."""
        if self._closed:
            return
        self._closed = True
        self.messages.close()
        try:
            self.client.tool.tear_down(self.tool_id)
        except ConnectionLost:
            pass  # the back-end tears down the tools of a client that went

    def __enter__(self) -> Target:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()
