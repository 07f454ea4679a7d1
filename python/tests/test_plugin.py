# SPDX-License-Identifier: Apache-2.0
"""The pytest plugin, run on inner test files through pytest's own pytester."""

from __future__ import annotations

import json
import os
import socket
import time
from pathlib import Path

import pytest

import hilcore
from hilcore import Backend, TcfError

FAILING_TEST = """
import json, pathlib

def test_fails(hil_target, hil_client, hil_messages):
    hil_client.device.start_session(hil_target.device_id)
    hil_messages.expect("Session started", timeout=5)
    context = hil_client.tool.context(hil_target.tool_id)
    pathlib.Path("tool.json").write_text(json.dumps({"id": hil_target.tool_id, "pid": context.get("QemuPid")}))
    assert 1 + 1 == 3
"""


@pytest.fixture(autouse=True)
def package_importable(monkeypatch: pytest.MonkeyPatch) -> None:
    """The inner runs import this very package."""
    folders = [str(Path(hilcore.__file__).parents[1]), os.environ.get("PYTHONPATH", "")]
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(folder for folder in folders if folder))


def run(pytester: pytest.Pytester, *options: str) -> pytest.RunResult:
    """Runs the inner tests in a pytest of their own."""
    return pytester.runpytest_subprocess("-p", "hilcore.pytest_plugin", "-p", "no:cacheprovider", *options,
                                         timeout=120)


def gone(pid: int, within: float) -> bool:
    deadline = time.monotonic() + within
    while time.monotonic() < deadline:
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            return True
        time.sleep(0.05)
    return False


def test_a_failing_test_reports_the_targets_messages_and_its_tool_is_torn_down(
        pytester: pytest.Pytester, backend: Backend) -> None:
    pytester.makepyfile(FAILING_TEST)
    result = run(pytester, f"--hil-backend=127.0.0.1:{backend.port}")
    result.assert_outcomes(failed=1)
    result.stdout.re_match_lines([r".*hilcore messages of simulator-\d+\.DEMO32.*",
                                  r"\[DEMO32\] DebuggingSession started on simulator-\d+\.DEMO32"])
    tool = json.loads((pytester.path / "tool.json").read_text())["id"]
    with backend.connect() as client, pytest.raises(TcfError) as gone_tool:
        client.tool.context(tool)
    assert gone_tool.value.code == 16


def test_a_failing_test_on_qemu_leaves_no_qemu_behind(pytester: pytest.Pytester, backend: Backend, firmware: str,
                                                      qemu_installed: None) -> None:
    pytester.makepyfile(FAILING_TEST.replace('"Session started"', '"Session started|ready"'))
    result = run(pytester, f"--hil-backend=127.0.0.1:{backend.port}", "--hil-target=qemu", f"--hil-kernel={firmware}")
    result.assert_outcomes(failed=1)
    result.stdout.fnmatch_lines(["*hilcore messages of gdbremote-*.MPS2-AN385*"])
    pid = json.loads((pytester.path / "tool.json").read_text())["pid"]
    assert pid and gone(pid, 10), f"QEMU {pid} still runs"


def test_the_plugin_starts_its_own_backend_and_passing_tests_report_nothing(pytester: pytest.Pytester) -> None:
    if not os.environ.get("HIL_BACKEND"):
        pytest.skip("needs HIL_BACKEND")
    pytester.makepyfile("""
        def test_passes(hil_client, hil_target):
            assert hil_target.device_id.endswith(".DEMO8")
            assert "com.velmora.hil.simulator" in hil_client.tool.supported_types()
    """)
    result = run(pytester, "--hil-device=DEMO8", "-rA")
    result.assert_outcomes(passed=1)
    assert "hilcore messages" not in result.stdout.str()


def test_a_gdb_server_target_without_an_address_is_an_error_of_the_set_up(
        pytester: pytest.Pytester, backend: Backend) -> None:
    pytester.makepyfile("def test_board(hil_target):\n    pass\n")
    result = run(pytester, f"--hil-backend=127.0.0.1:{backend.port}", "--hil-target=gdbserver")
    result.assert_outcomes(errors=1)
    result.stdout.fnmatch_lines(["*needs --hil-gdb-server HOST:PORT*"])


def test_an_unreachable_backend_is_an_error_of_the_set_up(pytester: pytest.Pytester) -> None:
    with socket.create_server(("127.0.0.1", 0)) as spare:
        port = spare.getsockname()[1]
    pytester.makepyfile("def test_board(hil_client):\n    pass\n")
    result = run(pytester, f"--hil-backend=127.0.0.1:{port}")
    result.assert_outcomes(errors=1)
    result.stdout.fnmatch_lines([f"*ConnectError: cannot reach the back-end at 127.0.0.1:{port}*"])
