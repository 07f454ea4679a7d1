# SPDX-License-Identifier: Apache-2.0
"""One class per TCF service; ``attach_services`` gives a client one of each."""

from __future__ import annotations

from typing import TYPE_CHECKING

from .breakpoints import Breakpoints
from .device import Device
from .memory import Memory
from .message import Message, MessageLog, TargetMessage
from .packs import Packs
from .registers import Registers
from .runcontrol import RunControl, RunState, Stop
from .stacktrace import StackTrace
from .stimuli import Stimuli
from .tool import Tool

if TYPE_CHECKING:
    from ..client import Client

__all__ = ["Breakpoints", "Device", "Memory", "Message", "MessageLog", "Packs", "Registers", "RunControl", "RunState",
           "StackTrace", "Stimuli", "Stop", "TargetMessage", "Tool", "attach_services"]


def attach_services(client: Client) -> None:
    """Gives ``client`` an attribute for each service."""
    client.tool = Tool(client)
    client.device = Device(client)
    client.memory = Memory(client)
    client.registers = Registers(client)
    client.stimuli = Stimuli(client)
    client.message = Message(client)
    client.packs = Packs(client)
    client.run_control = RunControl(client)
    client.breakpoints = Breakpoints(client)
    client.stack_trace = StackTrace(client)
