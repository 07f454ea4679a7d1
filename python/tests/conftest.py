# SPDX-License-Identifier: Apache-2.0
"""Fixtures of the package's own tests: the real back-end ($HIL_BACKEND, with the bundles of
$HIL_BUNDLE_DIR), a client of it and a simulated target."""

from __future__ import annotations

import os
import shutil
from typing import Iterator

import pytest

import hilcore

pytest_plugins = ["pytester"]


def backend_options() -> dict[str, str | None]:
    """What the tests start the back-end with, from the environment CTest sets."""
    return {"executable": os.environ.get("HIL_BACKEND") or shutil.which("hilcore-backend"),
            "bundles": os.environ.get("HIL_BUNDLE_DIR")}


def started_backend() -> Iterator[hilcore.Backend]:
    """A back-end of this build, running until the generator ends; skips when there is none."""
    options = backend_options()
    if not options["executable"]:
        pytest.skip("no back-end: set HIL_BACKEND")
    with hilcore.Backend(options["executable"], bundles=options["bundles"]) as started:
        yield started


@pytest.fixture(scope="session")
def backend() -> Iterator[hilcore.Backend]:
    """One back-end for the session."""
    yield from started_backend()


@pytest.fixture
def own_backend() -> Iterator[hilcore.Backend]:
    """A back-end for one test alone (one the test may stop or kill)."""
    yield from started_backend()


@pytest.fixture
def client(backend: hilcore.Backend) -> Iterator[hilcore.Client]:
    with backend.connect(timeout=10) as connected:
        yield connected


@pytest.fixture
def sim(client: hilcore.Client) -> Iterator[hilcore.Target]:
    """A connected simulator on DEMO32 (memory "base" over 32-bit addresses, ARM registers)."""
    with hilcore.Target.simulator(client, "DEMO32") as target:
        yield target


@pytest.fixture(scope="session")
def firmware() -> str:
    """The QEMU test firmware's ELF file; skips the test without it."""
    path = os.environ.get("HIL_FIRMWARE_ELF")
    if not path or not os.path.exists(path):
        pytest.skip("no test firmware: set HIL_FIRMWARE_ELF")
    return path


@pytest.fixture(scope="session")
def qemu_installed() -> None:
    if not (os.environ.get("HIL_QEMU") or shutil.which("qemu-system-arm")):
        pytest.skip("needs qemu-system-arm")
