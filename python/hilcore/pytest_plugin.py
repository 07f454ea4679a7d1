# SPDX-License-Identifier: Apache-2.0
"""A pytest plugin for hardware-in-the-loop tests: ``-p hilcore.pytest_plugin``, or
``pytest_plugins = ["hilcore.pytest_plugin"]`` in a conftest.

Fixtures: ``hil_backend`` (a back-end for the session: started here unless --hil-backend names
a running one), ``hil_client`` (a connection for one test), ``hil_target`` (a target set up and
connected for one test, torn down after it however it ended), ``hil_messages`` (the target's
messages) and ``hil_firmware`` (the firmware file to load). ``hil_target_config`` says which
target to set up; a conftest may override it. When a test fails, the target's last messages are
added to its report.
"""

from __future__ import annotations

import os
from dataclasses import dataclass
from typing import Any, Iterator

import pytest

from .backend import Backend
from .client import Client
from .services.message import MessageLog
from .target import Target

_TARGET_KEY = pytest.StashKey[Target]()
MESSAGES_SHOWN = 50  # lines of a failed test's report


@dataclass(frozen=True)
class TargetConfig:
    """Which target ``hil_target`` sets up: ``kind`` "simulator", "qemu" or "gdbserver";
    ``device`` the simulator's device (or a GDB server's description); ``machine`` and
    ``kernel`` QEMU's; ``gdb_server`` "HOST:PORT" of a running server."""

    kind: str = "simulator"
    device: str | None = None
    machine: str = "mps2-an385"
    kernel: str | None = None
    gdb_server: str | None = None

    def set_up(self, client: Client) -> Target:
        """The target, set up and connected on ``client``. Raises ValueError for an unknown
        kind or a GDB server without an address."""
        if self.kind == "simulator":
            return Target.simulator(client, self.device or "DEMO32")
        if self.kind == "qemu":
            return Target.qemu(client, self.kernel, self.machine)
        if self.kind == "gdbserver":
            if not self.gdb_server or ":" not in self.gdb_server:
                raise ValueError("--hil-target gdbserver needs --hil-gdb-server HOST:PORT")
            host, port = self.gdb_server.rsplit(":", 1)
            return Target.gdb_server(client, host, int(port), self.device)
        raise ValueError(f"unknown target kind {self.kind!r}: simulator, qemu or gdbserver")


class RunningBackend:
    """A back-end that runs already, named by its address."""

    def __init__(self, address: str) -> None:
        host, _, port = address.rpartition(":")
        if not host or not port.isdigit():
            raise ValueError(f"--hil-backend {address!r}: give HOST:PORT")
        self.host, self.port = host, int(port)

    def connect(self, **options: Any) -> Client:
        """A client connected to it."""
        return Client(self.host, self.port, **options)


def pytest_addoption(parser: pytest.Parser) -> None:
    group = parser.getgroup("hilcore", "hardware-in-the-loop tests with hilcore")
    env = os.environ.get
    group.addoption("--hil-backend", metavar="HOST:PORT", help="a running back-end to use instead of starting one")
    group.addoption("--hil-backend-exe", metavar="PATH", default=env("HIL_BACKEND"),
                    help="the back-end to start (default: $HIL_BACKEND, else hilcore-backend on the PATH)")
    group.addoption("--hil-bundles", metavar="DIR", default=env("HIL_BUNDLE_DIR"),
                    help="its bundle folder (default: $HIL_BUNDLE_DIR, else its own)")
    group.addoption("--hil-preferences", metavar="FILE", help="its preferences file")
    group.addoption("--hil-target", default="simulator", choices=("simulator", "qemu", "gdbserver"),
                    help="the target hil_target sets up (default: simulator)")
    group.addoption("--hil-device", metavar="NAME", help="the simulator's device (DEMO32), or a GDB server's description")
    group.addoption("--hil-qemu-machine", metavar="MACHINE", default="mps2-an385", help="QEMU's machine")
    group.addoption("--hil-kernel", metavar="ELF", help="the ELF file QEMU starts with")
    group.addoption("--hil-gdb-server", metavar="HOST:PORT", help="a running GDB server (--hil-target gdbserver)")
    group.addoption("--hil-firmware", metavar="FILE", default=env("HIL_FIRMWARE_ELF"),
                    help="the firmware the tests load (default: $HIL_FIRMWARE_ELF)")
    group.addoption("--hil-timeout", type=float, default=10.0, metavar="SECONDS", help="each call's time-out")


@pytest.fixture(scope="session")
def hil_backend(request: pytest.FixtureRequest) -> Iterator[Backend | RunningBackend]:
    """The back-end of the session: the running one --hil-backend names, else one started
    here on a free loopback port and stopped at the end."""
    option = request.config.getoption
    if option("hil_backend"):
        yield RunningBackend(option("hil_backend"))
        return
    with Backend(option("hil_backend_exe"), bundles=option("hil_bundles"),
                 preferences=option("hil_preferences")) as backend:
        yield backend


@pytest.fixture
def hil_client(hil_backend: Backend | RunningBackend, request: pytest.FixtureRequest) -> Iterator[Client]:
    """A connection for one test; closing it makes the back-end tear down what it set up."""
    client = hil_backend.connect(timeout=request.config.getoption("hil_timeout"))
    try:
        yield client
    finally:
        client.close()


@pytest.fixture(scope="session")
def hil_target_config(request: pytest.FixtureRequest) -> TargetConfig:
    """The target the options name; override it in a conftest to choose another."""
    option = request.config.getoption
    return TargetConfig(option("hil_target"), option("hil_device"), option("hil_qemu_machine"),
                        option("hil_kernel"), option("hil_gdb_server"))


@pytest.fixture
def hil_target(hil_client: Client, hil_target_config: TargetConfig, request: pytest.FixtureRequest) -> Iterator[Target]:
    """A target set up and connected for one test, torn down after it however it ended."""
    target = hil_target_config.set_up(hil_client)
    request.node.stash[_TARGET_KEY] = target
    try:
        yield target
    finally:
        target.close()


@pytest.fixture
def hil_messages(hil_target: Target) -> MessageLog:
    """The messages of the target, from before it connected on."""
    return hil_target.messages


@pytest.fixture(scope="session")
def hil_firmware(request: pytest.FixtureRequest) -> str:
    """The firmware file to load (--hil-firmware or $HIL_FIRMWARE_ELF); skips the test when
    none is named or the file is not there."""
    path = request.config.getoption("hil_firmware")
    if not path or not os.path.exists(path):
        pytest.skip("no firmware: give --hil-firmware FILE or set HIL_FIRMWARE_ELF")
    return os.path.abspath(path)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item: pytest.Item, call: pytest.CallInfo[None]) -> Iterator[None]:
    """Adds the target's last messages to the report of a test that failed."""
    outcome = yield
    report = outcome.get_result()
    target = item.stash.get(_TARGET_KEY, None)
    if report.failed and target is not None:
        lines = target.messages.last(MESSAGES_SHOWN)
        report.sections.append((f"hilcore messages of {target.device_id}", "\n".join(lines) or "(none)"))

