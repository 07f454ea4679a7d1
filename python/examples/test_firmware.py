# SPDX-License-Identifier: Apache-2.0
"""Hardware-in-the-loop tests of the test firmware (tests/firmware/firmware.c) on QEMU.

The firmware greets on UART0, counts in the word ``tick_count`` and calls ``on_tick`` every
1024 counts. Run with:

    pytest python/examples --hil-firmware build/release/tests/firmware/hilfirmware.elf
"""

import time

import pytest

from hilcore import Target

COUNTER = 0x20000000


@pytest.fixture
def board(hil_target: Target, hil_firmware: str) -> Target:
    """The target with the firmware loaded (and verified), reset and running."""
    hil_target.halt()
    hil_target.load(hil_firmware, verify=True)
    hil_target.reset()
    return hil_target


def test_greets(board: Target) -> None:
    board.messages.expect(r"hilcore test firmware ready", timeout=10)


def test_counter_grows(board: Target) -> None:
    board.messages.expect(r"tick \d+", timeout=20)
    board.halt()
    first = board.read_u32(COUNTER)
    board.resume()
    time.sleep(0.2)
    board.halt()
    assert board.read_u32(COUNTER) > first > 0


def test_stops_at_a_breakpoint(board: Target) -> None:
    board.break_at("on_tick")
    stop = board.wait_stopped(timeout=20)
    assert stop.reason == "Breakpoint"
    assert stop.pc == board.symbols["on_tick"] == board.register("pc")
    # The counter has just reached a multiple of 1024: on_tick's argument.
    assert board.register("r0") % 1024 == 0


def test_reset_starts_it_again(board: Target) -> None:
    board.messages.expect(r"tick 1024", timeout=20)
    board.reset()
    board.messages.expect(r"firmware ready", timeout=10)
    board.halt()
    assert board.read_u32(COUNTER) < 1024 * 4
