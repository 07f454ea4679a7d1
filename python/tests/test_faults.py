# SPDX-License-Identifier: Apache-2.0
"""Faults of the real back-end: killed while a call waits, silent, gone, or never started."""

from __future__ import annotations

import os
import signal
import threading
import time

import pytest

import hilcore
from hilcore import Backend, BackendError, CallTimeout, ConnectError, ConnectionLost


def freeze(pid: int) -> None:
    """Stops the process and returns once every thread of it stopped: SIGSTOP takes effect on
    each thread when it next runs, and one busy on another core may still answer."""
    os.kill(pid, signal.SIGSTOP)
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        states = []
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/stat") as stat:
                states.append(stat.read().rsplit(")", 1)[1].split()[0])
        if all(state in "Tt" for state in states):
            return
        time.sleep(0.005)
    raise AssertionError(f"process {pid} did not stop")


def test_a_backend_killed_while_calls_wait_fails_each_of_them_at_once(own_backend: Backend) -> None:
    client = own_backend.connect(timeout=30)
    errors: list[Exception] = []

    def wait_for_a_reply() -> None:
        try:
            client.sync()
        except Exception as error:  # handed to the test
            errors.append(error)
    freeze(own_backend.pid)  # it answers nothing from now on
    waiting = [threading.Thread(target=wait_for_a_reply) for _ in range(3)]
    for thread in waiting:
        thread.start()
    time.sleep(0.2)
    killed = time.monotonic()
    own_backend.kill()
    for thread in waiting:
        thread.join(10)
    assert time.monotonic() - killed < 3, "the calls must not sit out their 30 s time-out"
    assert len(errors) == 3 and all(isinstance(error, ConnectionLost) for error in errors)
    client.close()


def test_a_reply_that_never_comes_times_out_and_the_client_goes_on(own_backend: Backend) -> None:
    with own_backend.connect() as client:
        freeze(own_backend.pid)
        try:
            started = time.monotonic()
            with pytest.raises(CallTimeout):
                client.tool.supported_types(timeout=0.5)
            assert 0.5 <= time.monotonic() - started < 2
        finally:
            os.kill(own_backend.pid, signal.SIGCONT)
        # The late reply is dropped; the next call gets its own.
        assert "com.velmora.hil.simulator" in client.tool.supported_types()


def test_a_stopped_backend_refuses_connections(own_backend: Backend) -> None:
    host, port = own_backend.address
    own_backend.stop()
    with pytest.raises(ConnectError, match="cannot reach"):
        hilcore.Client(host, port, connect_timeout=2)


def test_a_program_that_is_no_backend_fails_to_start_with_what_it_said(tmp_path) -> None:
    script = tmp_path / "not-a-backend"
    script.write_text("#!/bin/sh\necho 'something else' >&2\nexit 3\n")
    script.chmod(0o755)
    with pytest.raises(BackendError, match="did not start[^$]*something else"):
        Backend(script, start_timeout=5).start()
    with pytest.raises(BackendError, match="not an executable"):
        Backend(tmp_path / "missing")
