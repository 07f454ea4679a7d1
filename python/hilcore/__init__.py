# SPDX-License-Identifier: Apache-2.0
"""hilcore: a Python client of the hilcore debugging back-end, over TCF.

    with hilcore.Backend() as backend, backend.connect() as client:
        with hilcore.Target.simulator(client, "DEMO32") as target:
            target.write(0x20000000, b"hello")

``hilcore.pytest_plugin`` is a pytest plugin with fixtures for hardware-in-the-loop tests.
"""

from .backend import Backend
from .client import Client, Event, EventQueue, Subscription, connect
from .errors import (BackendError, CallTimeout, ConnectError, ConnectionLost, ExpectTimeout, HilError, ImageError,
                     MemoryRangeError, NotRecognised, ProtocolError, RangeError, StopTimeout, TcfError, VerifyError)
from .images import Image, Segment, read_image
from .loader import LoadResult, load
from .services import MessageLog, RunState, Stop, TargetMessage
from .target import Target

__version__ = "0.1.0"
__all__ = ["Backend", "BackendError", "CallTimeout", "Client", "ConnectError", "ConnectionLost", "Event", "EventQueue",
           "ExpectTimeout", "HilError", "Image", "ImageError", "LoadResult", "MemoryRangeError", "MessageLog",
           "NotRecognised", "ProtocolError", "RangeError", "RunState", "Segment", "Stop", "StopTimeout", "Subscription",
           "Target", "TargetMessage", "TcfError", "VerifyError", "connect", "load", "read_image"]
