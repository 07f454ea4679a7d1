# SPDX-License-Identifier: Apache-2.0
"""The example suite runs against QEMU's mps2-an385, started without a kernel: each test loads
the firmware itself, as it would flash a board."""

import dataclasses

import pytest

pytest_plugins = ["hilcore.pytest_plugin"]


@pytest.fixture(scope="session")
def hil_target_config(request: pytest.FixtureRequest):
    """QEMU unless the command line names another target."""
    from hilcore.pytest_plugin import TargetConfig  # imported by pytest_plugins first

    chosen = request.config.getoption("hil_target")
    config = TargetConfig(chosen, request.config.getoption("hil_device"), request.config.getoption("hil_qemu_machine"),
                          request.config.getoption("hil_kernel"), request.config.getoption("hil_gdb_server"))
    return config if chosen != "simulator" else dataclasses.replace(config, kind="qemu")
